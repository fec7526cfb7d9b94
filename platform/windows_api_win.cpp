#include "platform/windows_api_win.h"

#include <climits>

namespace platform::detail {

std::wstring WideText(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
    return wide;
}

std::string Utf8Text(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

std::wstring FinalPath(const std::wstring& path) {
    // No access is asked for: only the name is wanted. The backup flag lets a folder open too.
    HANDLE file =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return path;
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring resolved;
    const DWORD needed = ::GetFinalPathNameByHandleW(file, nullptr, 0, kFlags);
    if (needed > 0) {
        resolved.resize(needed);
        const DWORD length = ::GetFinalPathNameByHandleW(file, resolved.data(), needed, kFlags);
        resolved.resize(length > 0 && length < needed ? length : 0);
    }
    ::CloseHandle(file);
    if (resolved.empty())
        return path;
    static constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
    static constexpr std::wstring_view kPrefix = L"\\\\?\\";
    if (resolved.starts_with(kUncPrefix))
        return L"\\\\" + resolved.substr(kUncPrefix.size());
    if (resolved.starts_with(kPrefix))
        return resolved.substr(kPrefix.size());
    return resolved;
}

} // namespace platform::detail
