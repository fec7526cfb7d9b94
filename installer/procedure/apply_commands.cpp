#include "installer/procedure/apply_commands.h"

#include "installer/procedure/program_values.h"
#include "platform/profile_file.h"
#include "platform/socket_api.h"

#include <algorithm>
#include <optional>

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
    case kNameFormatLibrary:
        return "site namefmt 0";
    case kNameFormatPath:
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

namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// A port number from 1 to 65535, blanks around it allowed; 0 when the text is none.
int PortNumber(const std::string& text) {
    const std::string digits = Trimmed(text);
    // Five digits at most, so the value cannot overflow before it is range-checked.
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int port = std::stoi(digits);
    return port <= 65535 ? port : 0;
}

bool IsIPv6Literal(const std::string& text) {
    const std::optional<platform::SocketAddress> address = platform::NumericAddress(text);
    return address && address->family == platform::AddressFamily::IPv6;
}

} // namespace

bool SplitHostAddress(const std::string& field, HostAddress& address) {
    const std::string trimmed = Trimmed(field);
    if (!trimmed.empty() && trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        if (close == std::string::npos || close == 1)
            return false;
        const std::string host = trimmed.substr(1, close - 1);
        const std::string rest = trimmed.substr(close + 1);
        if (rest.empty()) {
            address = {host, kFtpPort, false};
            return true;
        }
        const int port = rest.front() == ':' ? PortNumber(rest.substr(1)) : 0;
        if (port == 0)
            return false;
        address = {host, port, true};
        return true;
    }
    // A bare IPv6 address has colons of its own and no port.
    if (std::count(trimmed.begin(), trimmed.end(), ':') > 1 && IsIPv6Literal(trimmed)) {
        address = {trimmed, kFtpPort, false};
        return true;
    }
    const std::size_t colon = field.rfind(':');
    if (colon == std::string::npos) {
        address = {field, kFtpPort, false};
        return true;
    }
    const int port = PortNumber(field.substr(colon + 1));
    if (port == 0)
        return false;
    address = {field.substr(0, colon), port, true};
    return true;
}

} // namespace installer
