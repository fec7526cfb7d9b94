// Paths on Windows. The interface's texts are UTF-8, the system's calls take UTF-16, so a
// folder named "Mises à jour" or "更新" works; either "\" or "/" separates a path's parts.
//
// Where KDXInst.Ini and the other bare-named profile files live: the Windows directory's
// file when there is one (where earlier installers kept it), otherwise the folder
// "Apply Update" in the machine's program data (%ProgramData%). A change is written where
// the file was found when that can be written (the Windows directory usually takes only an
// administrator's), else to the program data folder; when both hold the file, the one
// written last is read, so a change that had to go to the program data folder is the one
// seen afterwards.
#include "platform/paths.h"

#include "platform/private_file.h"
#include "platform/settings_location.h"
#include "platform/windows_api_win.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <system_error>

namespace platform {
namespace {

constexpr wchar_t kSettingsFolder[] = L"Apply Update";

bool IsDelimiter(char c) {
    return c == '\\' || c == '/';
}

std::wstring ModulePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 65536)
            return {}; // longer than any path the system takes
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ProgramDataFolder() {
    PWSTR folder = nullptr;
    std::wstring result;
    if (::SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &folder) == S_OK &&
        folder != nullptr)
        result = folder;
    ::CoTaskMemFree(folder);
    if (result.empty()) {
        const wchar_t* variable = ::_wgetenv(L"ProgramData");
        result = variable != nullptr ? variable : L"C:\\ProgramData";
    }
    return result;
}

// The file of that name in the Windows directory; empty when the directory is not known.
std::string InWindowsDirectory(const std::string& fileName) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    return IncludeTrailingPathDelimiter(detail::Utf8Text(folder)) + fileName;
}

std::string InSettingsDirectory(const std::string& fileName) {
    return IncludeTrailingPathDelimiter(SettingsDirectory()) + fileName;
}

// When the file was last written; nothing when it does not exist (or is a folder).
std::optional<ULONGLONG> LastWritten(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() ||
        !::GetFileAttributesExW(detail::WideText(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    return (ULONGLONG{data.ftLastWriteTime.dwHighDateTime} << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path path(detail::WideText(folder));
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

} // namespace

std::string ExecutablePath() {
    // The module's own file name holds however the program was started (relative path,
    // PATH search); the final path follows a symbolic link to the real file.
    const std::wstring module = ModulePath();
    if (module.empty())
        return {};
    return detail::Utf8Text(detail::FinalPath(module));
}

std::string ExtractFilePath(const std::string& path) {
    const auto at = path.find_last_of("\\/:");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& directory) {
    if (directory.empty() || IsDelimiter(directory.back()))
        return directory;
    return directory + '\\';
}

bool FileExists(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const DWORD attributes = ::GetFileAttributesW(detail::WideText(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const DWORD attributes = ::GetFileAttributesW(detail::WideText(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsAbsolutePath(const std::string& path) {
    // A drive with its root ("C:\..."), or a share ("\\server\..."); "C:x" and "\x" depend on
    // the working drive's folder. Either delimiter counts.
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && IsDelimiter(path[2]);
    const bool share = path.size() >= 2 && IsDelimiter(path[0]) && IsDelimiter(path[1]);
    return drive || share;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute =
        std::filesystem::absolute(std::filesystem::path(detail::WideText(path)), error);
    return error ? path : detail::Utf8Text(absolute.lexically_normal().native());
}

namespace detail {

std::string DefaultSettingsDirectory() {
    return Utf8Text(ProgramDataFolder() + L"\\" + kSettingsFolder);
}

bool IsBareProfileName(const std::string& fileName) {
    return fileName.find_first_of("\\/:") == std::string::npos;
}

std::string BareProfilePath(const std::string& fileName) {
    const std::string settings = InSettingsDirectory(fileName);
    if (SettingsDirectoryOverridden())
        return settings; // a test's folder, and nothing else
    const std::string windows = InWindowsDirectory(fileName);
    const std::optional<ULONGLONG> windowsWritten = LastWritten(windows);
    if (!windowsWritten)
        return settings;
    const std::optional<ULONGLONG> settingsWritten = LastWritten(settings);
    return settingsWritten && *settingsWritten > *windowsWritten ? settings : windows;
}

bool WriteBareProfile(const std::string& fileName, const std::string& bytes) {
    const std::string settings = InSettingsDirectory(fileName);
    const std::string found = BareProfilePath(fileName);
    if (found != settings && WritePrivateFile(found, bytes))
        return true;
    return MakeFolder(SettingsDirectory()) && WritePrivateFile(settings, bytes);
}

} // namespace detail
} // namespace platform
