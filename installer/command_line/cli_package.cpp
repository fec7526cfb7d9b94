#include "installer/command_line/cli_package.h"

#include "installer/command_line/cli_options.h"
#include "installer/procedure/apply_commands.h"
#include "platform/paths.h"

#include <filesystem>
#include <system_error>

namespace installer {
namespace {

bool RegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

} // namespace

std::string PackageDirectory(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(folder, error);
    if (error)
        path = folder;
    return platform::IncludeTrailingPathDelimiter(path.lexically_normal().string());
}

void CheckPackage(const ProgramValues& values, bool readmeRead) {
    const std::string& folder = values.executableDirectory;
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
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
