// Where the command-line run gets the password: never from an argument (the process list
// shows every argument to every user), but from a file, standard input or the environment.
#pragma once

#include "installer/command_line/cli_options.h"

#include <string>

namespace installer {

inline constexpr char kPasswordVariable[] = "APPLY_UPDATE_PASSWORD";

// The password as given (the locale's bytes): the first line of --password-file or of
// standard input (--password-stdin, read without echo at a terminal), else
// APPLY_UPDATE_PASSWORD. The variable is taken out of the environment in any case. Raises
// ECliUsage when there is none, or the file cannot be read or can be read by others than
// its owner; no message ever holds the password.
std::string ReadPassword(const CliOptions& options);

} // namespace installer
