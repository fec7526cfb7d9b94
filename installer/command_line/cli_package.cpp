#include "installer/command_line/cli_package.h"

#include "installer/command_line/cli_options.h"
#include "installer/procedure/apply_commands.h"
#include "platform/paths.h"

namespace installer {
namespace {

bool RegularFile(const std::string& path) {
    return platform::FileExists(path);
}

} // namespace

std::string PackageDirectory(const std::string& folder) {
    return platform::IncludeTrailingPathDelimiter(platform::AbsolutePath(folder));
}

void CheckPackage(const ProgramValues& values, bool readmeRead) {
    const std::string& folder = values.executableDirectory;
    if (!platform::DirectoryExists(folder))
        throw ECliUsage("The package folder " + folder + " does not exist.");
    if (!RegularFile(folder + kDescriptorName))
        throw ECliUsage("The package in " + folder + " has no " + kDescriptorName + ".");
    if (!RegularFile(folder + kLockCheckLocalFile))
        throw ECliUsage("The package in " + folder + " has no " + kLockCheckLocalFile +
                        ", the lock-check save file.");
    const std::string updateFile =
        values.descriptor->ReadString(kDefaultsSection, kFilenameKey, kDefaultFilename);
    if (updateFile.empty() || !RegularFile(folder + updateFile))
        throw ECliUsage("The package in " + folder + " has no " +
                        (updateFile.empty() ? std::string("update save file") : updateFile) +
                        ", the update's save file (Filename in " + kDescriptorName + ").");
    if (!readmeRead && platform::FileExists(folder + kReadmeName))
        throw ECliUsage("The package has a readme, " + folder + kReadmeName +
                        ". Read it, then run again with --readme-read.");
}

} // namespace installer
