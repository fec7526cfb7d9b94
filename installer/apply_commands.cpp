#include "installer/apply_commands.h"

#include "installer/program_values.h"
#include "platform/profile_file.h"

namespace installer {

LockEntry ReadLockEntry(const platform::ProfileFile& descriptor, int number) {
    const std::string n = std::to_string(number);
    return SplitLockEntry(descriptor.ReadString(kDefaultsSection, kLockKeyPrefix + n, ""),
                          descriptor.ReadString(kDefaultsSection, kTypeKeyPrefix + n, ""));
}

LockEntry SplitLockEntry(const std::string& value, const std::string& type) {
    LockEntry entry{value, "", value, type};
    const std::size_t slash = value.find('/');
    if (slash != std::string::npos) {
        entry.library = value.substr(0, slash);
        entry.object = value.substr(slash + 1);
    }
    return entry;
}

std::string Pad10(const std::string& text) {
    std::string padded = text.substr(0, 10);
    padded.resize(10, ' ');
    return padded;
}

std::string NameFormatCommand(int choice) {
    switch (choice) {
    case 1:
        return "site namefmt 0";
    case 2:
        return "site namefmt 1";
    default:
        return "";
    }
}

std::string ChangeJobLogCommand() {
    return "rcmd CHGJOB LOG(4 00 *SECLVL)";
}

std::string CheckSaveFileCommand(const std::string& library, const std::string& file) {
    return "rcmd chkobj obj(" + library + "/" + file + ") objtype(*FILE)";
}

std::string CreateSaveFileCommand(const std::string& library, const std::string& file) {
    return "rcmd crtsavf file(" + library + "/" + file + ")";
}

std::string ClearSaveFileCommand(const std::string& library, const std::string& file) {
    return "rcmd clrsavf file(" + library + "/" + file + ")";
}

std::string RestoreLockCheckCommand(const std::string& library) {
    return "rcmd rstobj obj(W_CHKLCK) savlib(qmrlib) dev(*savf) savf(" + library + "/" +
           kLockCheckSaveFile + ") rstlib(" + library + ")";
}

std::string LockCheckCommand(const std::string& library, const LockEntry& entry) {
    return "rcmd call PGM(" + library + "/W_CHKLCK) PARM(" + Pad10(entry.object) +
           Pad10(entry.library) + Pad10(entry.type) + ")";
}

std::string InstallCommand(const std::string& updateId, const std::string& library,
                           const std::string& targetLibrary, bool replace) {
    std::string command = "zlclupd updid(" + updateId + ") updlib(" + library + ") PRDLIB(" +
                          targetLibrary + ") UPDFMT(*SAVF)";
    if (replace)
        command += " REPLACE(*YES)";
    return command;
}

std::string WrkObjLckLine(const LockEntry& entry) {
    return " \"WRKOBJLCK " + entry.value + " " + entry.type + "\"";
}

bool SplitHostAddress(const std::string& field, HostAddress& address) {
    const std::size_t colon = field.rfind(':');
    if (colon == std::string::npos) {
        address = {field, kFtpPort};
        return true;
    }
    std::string digits = field.substr(colon + 1);
    const std::size_t first = digits.find_first_not_of(' ');
    const std::size_t last = digits.find_last_not_of(' ');
    digits = first == std::string::npos ? "" : digits.substr(first, last - first + 1);
    // Five digits at most, so the value cannot overflow before it is range-checked.
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int port = std::stoi(digits);
    if (port < 1 || port > 65535)
        return false;
    address = {field.substr(0, colon), port};
    return true;
}

} // namespace installer
