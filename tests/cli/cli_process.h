// Runs apply-update-cli as a separate program, as scripts and Ansible run it: arguments,
// an environment of its own, standard input, and what it wrote and how it ended.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct CliCall {
    std::vector<std::string> arguments;
    std::string workingDirectory;
    // The whole environment besides PATH and LANG (C.UTF-8); nothing of the test's own.
    std::map<std::string, std::string> environment;
    std::optional<std::string> input; // standard input; empty and closed when not given
    // Looked at with the standard output so far whenever more arrives; the first time it
    // returns true, the program gets SIGTERM.
    std::function<bool(const std::string& out)> terminateWhen;
};

struct CliRun {
    int exitStatus = -1; // -1 when the program ended by a signal or had to be killed
    bool hung = false;   // it did not end within the generous limit and was killed
    bool terminated = false;
    std::string out;
    std::string err;

    // Standard output's lines without the JSON summary, and the summary's line.
    std::vector<std::string> LogLines() const;
    std::string SummaryLine() const;
};

CliRun RunCli(const CliCall& call);

// A port on 127.0.0.1 that refuses connections: bound, never listening, held until the
// object goes.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

} // namespace test_support
