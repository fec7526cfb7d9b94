// A program that a test starts beside itself: an FTP server, a TLS peer, the host emulator, a
// shell script. On Linux it is a child process that inherits nothing but its standard
// streams. The Windows build's tests run under wine, which starts a Linux program but cannot
// follow it; there the test runner's helper bridge (tests/windows/helper_bridge.py, its port
// in APPLY_UPDATE_TEST_BRIDGE_PORT) starts it on the Linux side, with the Windows paths among
// its arguments turned into the Linux paths of the same files.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct HelperOptions {
    // Standard output goes where the test's own does, instead of to ReadLine().
    bool forwardOutput = false;
    // Standard error into this file; empty: where the test's own goes.
    std::filesystem::path errorFile;
    // Standard input is empty from the start; otherwise it stays open until Stop(), and a
    // helper that ends when its input closes never outlives the test.
    bool closedInput = false;
};

class HelperProgram {
public:
    // Throws std::runtime_error naming the program when it cannot be started.
    HelperProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const HelperOptions& options = {});
    ~HelperProgram(); // Stop()
    HelperProgram(const HelperProgram&) = delete;
    HelperProgram& operator=(const HelperProgram&) = delete;

    // The next line of standard output without its line end; nothing when none came within
    // `limitMs` or the output ended.
    std::optional<std::string> ReadLine(int limitMs);
    // Waits up to `limitMs` for the program's end; true when it ended by itself, with its
    // exit status in `exitCode` (-1 when a signal ended it).
    bool WaitForExit(int limitMs, int* exitCode = nullptr);
    // The standard output not yet read, once the program has ended.
    std::string ReadRest();
    // Closes its input, asks it to end, and forces it after a while.
    void Stop();

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace test_support
