// What the installer learns at start-up: where its package folder is, the update
// descriptor beside it, and the values derived from the descriptor that the window shows
// and the apply procedure uses. None of this needs a window.
#pragma once

#include "platform/profile_file.h"

#include <memory>
#include <string>

namespace installer {

inline constexpr char kApplicationTitle[] = "Apply Update";
inline constexpr char kCaptionPrefix[] = "Apply Update: ";

// The update descriptor, written by the package author, read only.
inline constexpr char kDescriptorName[] = "update.Ini";
inline constexpr char kDefaultsSection[] = "Defaults";
inline constexpr char kUpdateKey[] = "Update";
inline constexpr char kDescriptionKey[] = "Description";
inline constexpr char kTgtlibKey[] = "Tgtlib";
inline constexpr char kUseridKey[] = "Userid";
inline constexpr char kIPAddressKey[] = "IPAddress";
inline constexpr char kSptlibKey[] = "SPTLIB";
inline constexpr char kFilenameKey[] = "Filename";
inline constexpr char kLockKeyPrefix[] = "Lock";
inline constexpr char kTypeKeyPrefix[] = "Type";

inline constexpr char kNoUpdate[] = "*NONE";
inline constexpr char kDefaultDescription[] = "AS/400 Software Update";
inline constexpr char kDefaultTgtlib[] = "QGPL";
inline constexpr char kDefaultSptlib[] = "KDXSUPPT";
inline constexpr char kDefaultFilename[] = "*NONE";

inline constexpr char kReadmeName[] = "Readme.txt";

// The program-wide values, set once when the main window is created.
struct ProgramValues {
    std::string executableDirectory; // with a trailing "/"
    // Open from the main window's creation to its close. Every read goes to the file at
    // that moment, so later reads see edits made while the installer runs.
    std::unique_ptr<platform::ProfileFile> descriptor;
    std::string shownUpdateId;  // [Defaults] Update, "*NONE" when the key is missing
    std::string supportLibrary; // [Defaults] SPTLIB, trimmed and upper-cased
};

// Reads the descriptor beside the executable whose full path is given.
ProgramValues LoadProgramValues(const std::string& executablePath);

// The texts the main window's fields start with.
struct FieldTexts {
    std::string description;   // label UpdName
    std::string targetLibrary; // TargetLibEdt, as read (lower case kept)
    std::string userId;        // UserIdEdt
    std::string ipAddress;     // SystemEdt
};

// A descriptor key that is present wins; where the descriptor has no Userid or IPAddress
// key, the values remembered by the last Apply on this machine are shown, so an operator
// does not retype the same host for every package.
FieldTexts ReadFieldTexts(const platform::ProfileFile& descriptor);

std::string CaptionFor(const std::string& shownUpdateId);

} // namespace installer
