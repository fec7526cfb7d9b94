#include "installer/procedure/package_names.h"

#include "installer/procedure/apply_commands.h"
#include "installer/procedure/program_values.h"
#include "installer/procedure/text.h"
#include "platform/profile_file.h"

namespace installer {
namespace {

constexpr std::size_t kLongestName = 10;

constexpr char kNameRule[] =
    "1 to 10 letters, digits or $ # @ _ ., not starting with a digit or a period";

bool Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

bool NameCharacter(char c) {
    return Letter(c) || Digit(c) || c == '$' || c == '#' || c == '@' || c == '_' || c == '.';
}

[[noreturn]] void Refuse(const std::string& key, const std::string& value,
                         const std::string& what) {
    throw EDescriptorValue("The update descriptor's " + key + " value \"" + value + "\" is not " +
                           what + ".");
}

void CheckName(const char* key, const std::string& value, const std::string& used) {
    if (!IsIbmiName(used))
        Refuse(key, value, std::string("an IBM i name: ") + kNameRule);
}

void CheckFileName(const platform::ProfileFile& descriptor, const char* key) {
    const std::string value = descriptor.ReadString(kDefaultsSection, key, "");
    if (!value.empty() && !IsPackageFileName(value))
        Refuse(key, value,
               "a file of the package: name a file in the package folder, without a folder, "
               "drive or \"..\"");
}

void CheckLockList(const platform::ProfileFile& descriptor) {
    for (int number = 1;; ++number) {
        const LockEntry entry = ReadLockEntry(descriptor, number);
        if (entry.value.empty())
            return;
        const std::string n = std::to_string(number);
        const bool hasLibrary = entry.value.find('/') != std::string::npos;
        if ((hasLibrary && !IsIbmiName(entry.library)) || !IsIbmiName(entry.object))
            Refuse(kLockKeyPrefix + n, entry.value,
                   std::string("an IBM i object: LIB/OBJ, each part ") + kNameRule);
        if (!entry.type.empty() && !IsIbmiObjectType(entry.type))
            Refuse(kTypeKeyPrefix + n, entry.type, "an IBM i object type: \"*\" and a name");
    }
}

} // namespace

bool IsIbmiName(const std::string& text) {
    if (text.empty() || text.size() > kLongestName || Digit(text.front()) || text.front() == '.')
        return false;
    for (const char c : text) {
        if (!NameCharacter(c))
            return false;
    }
    return true;
}

bool IsIbmiObjectType(const std::string& text) {
    return text.size() > 1 && text.front() == '*' && IsIbmiName(text.substr(1));
}

bool IsPackageFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\:") == std::string::npos;
}

std::string NotANameMessage(const std::string& caption, const std::string& value) {
    return "The " + caption + " \"" + value + "\" is not an IBM i name: " + kNameRule + ".";
}

void CheckDescriptorValues(const platform::ProfileFile& descriptor) {
    // A missing Update or Tgtlib keeps its default; one that is there must be a name.
    for (const char* key : {kUpdateKey, kTgtlibKey}) {
        const std::string value = descriptor.ReadString(kDefaultsSection, key, "");
        if (!value.empty())
            CheckName(key, value, value);
    }
    // The support library is used trimmed and upper-cased, and every command names it.
    const std::string sptlib = descriptor.ReadString(kDefaultsSection, kSptlibKey, kDefaultSptlib);
    CheckName(kSptlibKey, sptlib, UpperCase(Trim(sptlib)));
    CheckFileName(descriptor, kFilenameKey);
    CheckFileName(descriptor, kCAFileKey);
    CheckLockList(descriptor);
}

} // namespace installer
