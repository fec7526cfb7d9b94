// What the command-line program does so that the password it holds stays inside it: no core
// file (which would carry the process's memory, the password with it, to the disk), and the
// password's environment variable taken out of the environment once read.
#pragma once

#include <optional>
#include <string>

namespace platform {

// No core file for this process from now on, and no other process of the same user may
// attach to it or read its memory. Best effort: what the system refuses is left as it was.
void DisableCoreDumps();

// The value of an environment variable, taken out of the environment: afterwards the
// variable is not set (for this process and for any it starts), and its text no longer
// stands where the environment kept it. Nothing when the variable is not set.
std::optional<std::string> TakeEnvironmentVariable(const char* name);

} // namespace platform
