#include "platform/paths.h"

#include "platform/exception.h"
#include "platform/file_reader.h"

#include <QStandardPaths>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {
namespace {
std::string& SettingsDirectoryOverride() {
    static std::string directory;
    return directory;
}
} // namespace

std::string ExecutablePath() {
    // /proc/self/exe names the executable however it was started (relative path, PATH
    // search, symbolic link), so the package folder is found from any working directory.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExtractFilePath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& directory) {
    if (directory.empty() || directory.back() == '/')
        return directory;
    return directory + '/';
}

std::string ExecutableDirectory() {
    return IncludeTrailingPathDelimiter(ExtractFilePath(ExecutablePath()));
}

bool FileExists(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return false;
    return !S_ISDIR(info.st_mode);
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
    const QString location =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return location.toLocal8Bit().toStdString();
}

void SetSettingsDirectory(std::string directory) {
    SettingsDirectoryOverride() = std::move(directory);
}

} // namespace platform
