// The remote commands an Apply sends to the AS/400, and the pieces of the update
// descriptor they are made from. Plain text functions, so each command's exact form is
// fixed in one place.
#pragma once

#include <string>

namespace platform {
class ProfileFile;
}

namespace installer {

// The lock-check save file as the package ships it, and its names on the host.
inline constexpr char kLockCheckLocalFile[] = "W_CHKLCKSF.SVF";
inline constexpr char kLockCheckSaveFile[] = "W_CHKLCKSF";

// One object that must not be locked: descriptor LockN ("LIB/OBJ") and TypeN.
struct LockEntry {
    std::string value;   // LockN as read
    std::string library; // before the first "/" (empty when there is none)
    std::string object;  // after the first "/" (all of the value when there is none)
    std::string type;    // TypeN as read (empty when missing)
};

// Entry `number` (from 1) of the descriptor's lock list; its value is empty where the list
// ends.
LockEntry ReadLockEntry(const platform::ProfileFile& descriptor, int number);
LockEntry SplitLockEntry(const std::string& value, const std::string& type);

// Cut to 10 characters, then filled with blanks to exactly 10: the form of a CL *CHAR 10
// parameter.
std::string Pad10(const std::string& text);

// The name-format choices: leave the host's as it is, "site namefmt 0" (library/object
// names), "site namefmt 1" (path names).
inline constexpr int kNameFormatUnchanged = 0;
inline constexpr int kNameFormatLibrary = 1;
inline constexpr int kNameFormatPath = 2;

// "site namefmt 0" for kNameFormatLibrary, "site namefmt 1" for kNameFormatPath, empty for
// any other choice.
std::string NameFormatCommand(int choice);

std::string ChangeJobLogCommand();
std::string CheckSaveFileCommand(const std::string& library, const std::string& file);
std::string CreateSaveFileCommand(const std::string& library, const std::string& file);
std::string ClearSaveFileCommand(const std::string& library, const std::string& file);
std::string RestoreLockCheckCommand(const std::string& library);
std::string LockCheckCommand(const std::string& library, const LockEntry& entry);
// The host-side install command, without the "rcmd " that sends it.
std::string InstallCommand(const std::string& updateId, const std::string& library,
                           const std::string& targetLibrary, bool replace);

// The log line that tells the operator how to find who holds the lock.
std::string WrkObjLckLine(const LockEntry& entry);

// Where the AS/400 is: the IP address field, optionally followed by ":port". An IPv6 address
// stands in brackets ("[2001:db8::5]", "[2001:db8::5]:2121"), or bare when no port follows.
struct HostAddress {
    std::string host;
    int port = 21;
    bool portGiven = false; // the field named the port; otherwise the protocol's own applies
};
inline constexpr int kFtpPort = 21;

// Splits the field into host and port: a bracketed host and what follows its "]", a bare
// IPv6 address whole, anything else at its last ":" when it has one. False when what should
// be a port is not a number from 1 to 65535 (blanks around it are allowed), or when
// something other than ":port" follows the "]".
bool SplitHostAddress(const std::string& field, HostAddress& address);

} // namespace installer
