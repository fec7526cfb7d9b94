// Where the running program lives, where per-machine settings live, and the few questions
// the installer asks of the file system.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable, following symbolic links to the real file.
std::string ExecutablePath();

// Directory part of a path: everything up to and including the last "/" (on Windows also
// "\" or a drive's ":"); empty when the path has none.
std::string ExtractFilePath(const std::string& path);

// The directory with a trailing "/" (on Windows "\", unless it ends in "/" already); an
// empty text stays empty.
std::string IncludeTrailingPathDelimiter(const std::string& directory);

// Directory of the running executable, with a trailing "/".
std::string ExecutableDirectory();

// True only for something that exists and is not a directory.
bool FileExists(const std::string& path);

// True only for a directory that exists.
bool DirectoryExists(const std::string& path);

// Whether a path names its file without the working directory's help: "/..." here, a drive's
// "C:\..." or a network share's "\\server\..." on Windows.
bool IsAbsolutePath(const std::string& path);

// The path made absolute against the working directory, with "." and ".." parts resolved as
// written (no links followed); the path itself when the working directory is unknown.
std::string AbsolutePath(const std::string& path);

// The last part of a path: what follows its last delimiter.
std::string ExtractFileName(const std::string& path);

// Whole contents of a file as bytes; raises EFOpenError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The per-user configuration directory where profile files named without a path are kept
// (usually ~/.config). On Windows it is the machine's: the folder "Apply Update" in
// %ProgramData%, though such a file that the Windows directory holds is used there (see
// ProfileFile). Tests point it elsewhere so they never touch the real one; an empty text
// restores the default.
std::string SettingsDirectory();
void SetSettingsDirectory(std::string directory);

} // namespace platform
