// The command line of apply-update-cli. Every option is one row of a table (name, value,
// help text, what it sets), so the parser, the help text and the refusals all come from the
// same place and a new option is one row and one field.
#pragma once

#include "installer/procedure/connection_options.h"
#include "platform/exception.h"

#include <optional>
#include <string>
#include <vector>

namespace installer {

inline constexpr char kCliProgramName[] = "apply-update-cli";

// What the command line asks for. Texts are as given (the locale's bytes); the run converts
// those that go to the host.
struct CliOptions {
    std::string package = "."; // the package folder
    std::optional<std::string> host;
    std::optional<std::string> user;
    std::optional<std::string> targetLibrary;
    bool replace = false;
    int nameFormat = 0; // the name-format choice: 0 none, 1 "site namefmt 0", 2 "... 1"
    bool readmeRead = false;
    std::optional<SecurityChoice> security;
    std::optional<std::string> caFile;
    std::optional<DataConnectionChoice> dataConnection;
    std::string trustedFingerprint;
    bool json = false;
    std::optional<std::string> passwordFile;
    bool passwordStdin = false;
    bool help = false;
    bool version = false;
};

// A command line that cannot be used; the text says why. It never repeats an argument that
// could be a password.
class ECliUsage : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// Parses the arguments after the program name. Options take "--name value" or
// "--name=value". Raises ECliUsage.
CliOptions ParseCliOptions(const std::vector<std::string>& arguments);

// The text of --help: the synopsis, every option, the password sources and the exit
// statuses.
std::string CliHelpText();

} // namespace installer
