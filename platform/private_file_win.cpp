#include "platform/private_file.h"

#include "platform/windows_api_win.h"

#include <algorithm>
#include <atomic>
#include <climits>

namespace platform {
namespace {

// The file a path names, through any symbolic links or junctions; the path itself when it
// names none.
std::wstring LinkTarget(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    return detail::FinalPath(path);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD block = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, INT_MAX));
        DWORD count = 0;
        if (!::WriteFile(file, bytes.data() + done, block, &count, nullptr) || count == 0)
            return false;
        done += count;
    }
    return true;
}

// A new file beside `target` that nobody else has opened: the name's tail is made anew until
// it is one that did not exist.
HANDLE CreateBeside(const std::wstring& target, std::wstring& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned tail =
            (::GetCurrentProcessId() * 2654435761u) ^ (::GetTickCount() << 8) ^ counter++;
        wchar_t suffix[16] = {};
        ::_snwprintf(suffix, 15, L".%06X", tail & 0xFFFFFFu);
        temporary = target + suffix;
        HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

std::FILE* OpenForReading(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return nullptr;
    return ::_wfopen(detail::WideText(path).c_str(), L"rb");
}

bool ReadableByOthers(std::FILE*) {
    // Windows has no permission bits for a group or for everyone: who may read a file is its
    // access control list, which the folder hands down (a user's own folders to that user).
    // There is nothing here that says "readable by others", so nothing is refused for it.
    return false;
}

bool WritePrivateFile(const std::string& path, const std::string& bytes) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const std::wstring target = LinkTarget(detail::WideText(path));
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;
    // Made as any new file is: it takes the permissions that its folder hands down, whatever
    // the old file had.
    std::wstring temporary;
    HANDLE file = CreateBeside(target, temporary);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteAll(file, bytes) && ::FlushFileBuffers(file);
    const bool closed = ::CloseHandle(file) != 0;
    if (!written || !closed ||
        !::MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace platform
