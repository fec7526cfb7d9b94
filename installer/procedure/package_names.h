// What the update descriptor may name. Its values become parts of CL commands on the host
// (libraries, objects, types) and of paths on this machine (the package's files), so each is
// held to its kind before it is used: an IBM i name is a name, never CL text; a package file
// is a file of the package folder, never one elsewhere.
#pragma once

#include "installer/procedure/connection_options.h"

#include <string>

namespace platform {
class ProfileFile;
}

namespace installer {

// An IBM i library or object name: 1 to 10 characters of letters, digits, "$", "#", "@", "_"
// and ".", not starting with a digit or a period.
bool IsIbmiName(const std::string& text);

// An IBM i object type: "*" followed by a name ("*FILE", "*DTAARA").
bool IsIbmiObjectType(const std::string& text);

// A file name of the package folder: not empty, no folder part ("/" or "\"), no drive
// (":"), and neither "." nor "..".
bool IsPackageFileName(const std::string& name);

// "The Target library "X" is not an IBM i name: ...": the typed field's refusal.
std::string NotANameMessage(const std::string& caption, const std::string& value);

// Raises EDescriptorValue naming the key and its value for the first descriptor value that
// is present and not of its kind: Update, SPTLIB and Tgtlib (names), Filename and CAFile
// (package file names), and each LockN ("LIB/OBJ" or "OBJ", names) with its TypeN (an
// object type) down to the end of the lock list. A missing key keeps its default.
void CheckDescriptorValues(const platform::ProfileFile& descriptor);

} // namespace installer
