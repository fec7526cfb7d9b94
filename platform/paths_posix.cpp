#include "platform/paths.h"

#include "platform/private_file.h"
#include "platform/settings_location.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

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

bool FileExists(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return false;
    return !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

namespace detail {

std::string DefaultSettingsDirectory() {
    const QString location =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return location.toLocal8Bit().toStdString();
}

bool IsBareProfileName(const std::string& fileName) {
    return fileName.find('/') == std::string::npos;
}

std::string BareProfilePath(const std::string& fileName) {
    return IncludeTrailingPathDelimiter(SettingsDirectory()) + fileName;
}

bool WriteBareProfile(const std::string& fileName, const std::string& bytes) {
    if (!QDir().mkpath(QFile::decodeName(SettingsDirectory().c_str())))
        return false;
    return WritePrivateFile(BareProfilePath(fileName), bytes);
}

} // namespace detail
} // namespace platform
