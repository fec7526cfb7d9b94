// Where profile files named without a folder are kept, as each system has it (paths_posix.cpp,
// paths_win.cpp). Internal to platform/.
#pragma once

#include <string>

namespace platform::detail {

// The settings directory when no test has set one.
std::string DefaultSettingsDirectory();
// Whether a test has set the settings directory (SetSettingsDirectory).
bool SettingsDirectoryOverridden();

// Whether a profile file's name is a bare one, with no folder in it: such a file lives where
// the system keeps settings.
bool IsBareProfileName(const std::string& fileName);
// Where the bare-named profile file is read from.
std::string BareProfilePath(const std::string& fileName);
// Replaces the whole bare-named profile file with `bytes` (as WritePrivateFile does), creating
// its folder as needed: where it was read from when that can be written, else in the
// settings directory. False when it cannot be written anywhere.
bool WriteBareProfile(const std::string& fileName, const std::string& bytes);

} // namespace platform::detail
