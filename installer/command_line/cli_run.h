// The command-line run: applies one package to one host with the apply procedure, prints
// the status log, and ends with an exit status that says how it went.
#pragma once

#include <string>
#include <vector>

namespace installer {

inline constexpr int kExitApplied = 0;
inline constexpr int kExitNotApplied = 1;   // locked object, failed install, refused command
inline constexpr int kExitUsage = 2;        // bad usage, incomplete package, readme not read
inline constexpr int kExitNoConnection = 3; // could not connect or log on
inline constexpr int kExitStopped = 4;      // SIGINT or SIGTERM

// The whole program, given the arguments after its name; returns the exit status.
int RunApplyUpdateCli(const std::vector<std::string>& arguments);

} // namespace installer
