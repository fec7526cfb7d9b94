#include "installer/command_line/cli_password.h"

#include "platform/private_file.h"
#include "platform/process_hardening.h"
#include "platform/terminal_echo.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace installer {
namespace {

// A password longer than this is not a password: a wrong file was named.
constexpr std::size_t kLongestLine = 4096;

// The first line of a stream, without its line end; false when the line is longer than
// kLongestLine.
bool FirstLine(std::FILE* in, std::string& line) {
    line.clear();
    for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
        if (line.size() == kLongestLine)
            return false;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::string ReadPassword(const CliOptions& options) {
    // Taken out of the environment whichever source counts: processes started later, and
    // anyone allowed to look at this one's environment, do not find it there.
    const std::optional<std::string> variable =
        platform::TakeEnvironmentVariable(kPasswordVariable);
    std::string password;
    if (options.passwordFile) {
        const std::string& name = *options.passwordFile;
        const std::unique_ptr<std::FILE, CloseFile> file(platform::OpenForReading(name));
        if (!file)
            throw ECliUsage("Cannot read the password file " + name + ".");
        // As ssh does with a private key: a secret others may read is no longer one, and
        // using it quietly would hide that.
        if (platform::ReadableByOthers(file.get()))
            throw ECliUsage("The password file " + name +
                            " can be read by others than its owner; make it private (chmod 600 " +
                            name + ").");
        if (!FirstLine(file.get(), password) || std::ferror(file.get()))
            throw ECliUsage("The password file " + name + " does not hold a password line.");
        if (password.empty())
            throw ECliUsage("The password file " + name + " starts with an empty line.");
        return password;
    }
    if (options.passwordStdin) {
        bool whole = false;
        {
            // Typed at a terminal, the password is not shown; piped in, it is read as it is.
            const platform::TerminalEchoOff quiet(stdin);
            whole = FirstLine(stdin, password);
        }
        if (!whole || std::ferror(stdin))
            throw ECliUsage("Standard input does not hold a password line.");
        if (password.empty())
            throw ECliUsage("Standard input gave an empty password.");
        return password;
    }
    if (variable && !variable->empty())
        return *variable;
    throw ECliUsage(std::string("No password: set ") + kPasswordVariable +
                    ", or use --password-file FILE or --password-stdin.");
}

} // namespace installer
