// What the path functions do the same on every system; the rest is each system's own
// (paths_posix.cpp, paths_win.cpp).
#include "platform/paths.h"

#include "platform/exception.h"
#include "platform/file_reader.h"
#include "platform/settings_location.h"

#include <utility>

namespace platform {
namespace {
std::string& SettingsDirectoryOverride() {
    static std::string directory;
    return directory;
}
} // namespace

std::string ExecutableDirectory() {
    return IncludeTrailingPathDelimiter(ExtractFilePath(ExecutablePath()));
}

std::string ExtractFileName(const std::string& path) {
    return path.substr(ExtractFilePath(path).size());
}

std::string ReadFileBytes(const std::string& path) {
    try {
        return ReadWholeFile(path);
    } catch (const Exception&) {
        throw EFOpenError(path); // a read error too: the file cannot be read
    }
}

std::string SettingsDirectory() {
    if (!SettingsDirectoryOverride().empty())
        return SettingsDirectoryOverride();
    return detail::DefaultSettingsDirectory();
}

void SetSettingsDirectory(std::string directory) {
    SettingsDirectoryOverride() = std::move(directory);
}

namespace detail {
bool SettingsDirectoryOverridden() {
    return !SettingsDirectoryOverride().empty();
}
} // namespace detail

} // namespace platform
