#include "installer/cli_password.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

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
    std::string password;
    if (options.passwordFile) {
        const std::string& name = *options.passwordFile;
        const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(name.c_str(), "rb"));
        if (!file)
            throw ECliUsage("Cannot read the password file " + name + ".");
        if (!FirstLine(file.get(), password) || std::ferror(file.get()))
            throw ECliUsage("The password file " + name + " does not hold a password line.");
        if (password.empty())
            throw ECliUsage("The password file " + name + " starts with an empty line.");
        return password;
    }
    if (options.passwordStdin) {
        if (!FirstLine(stdin, password) || std::ferror(stdin))
            throw ECliUsage("Standard input does not hold a password line.");
        if (password.empty())
            throw ECliUsage("Standard input gave an empty password.");
        return password;
    }
    if (const char* variable = std::getenv(kPasswordVariable); variable != nullptr && *variable)
        return variable;
    throw ECliUsage(std::string("No password: set ") + kPasswordVariable +
                    ", or use --password-file FILE or --password-stdin.");
}

} // namespace installer
