// Files that hold what only their owner may read: a password, the remembered settings, a
// saved status log with the host's conversation.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Whether the permissions of an open file let others than its owner read it (its group or
// everyone). A file whose permissions cannot be looked at counts as readable by others.
// Windows, whose files have no such permission bits, answers false.
bool ReadableByOthers(std::FILE* file);

// Opens a file for reading in binary mode, as std::fopen does; the name is UTF-8 everywhere.
// Null when it cannot be opened.
std::FILE* OpenForReading(const std::string& path);

// Replaces the file `path` with `bytes`: written beside it and renamed over it, so a crash or
// a full disk leaves either the old file or the new one, never a mixture. The new file is
// readable and writable by its owner only (0600) from the moment it exists, whatever the
// old one's permissions were; on Windows it takes the permissions that its folder hands down. A
// symbolic link is followed: the file it points to is replaced. False when the file cannot be
// written (also when it exists and is read-only).
bool WritePrivateFile(const std::string& path, const std::string& bytes);

} // namespace platform
