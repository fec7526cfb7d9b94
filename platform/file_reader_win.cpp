#include "platform/file_reader.h"

#include "platform/exception.h"
#include "platform/windows_api_win.h"

#include <algorithm>

namespace platform {
namespace {

// The file's handle is kept in the int that the POSIX systems keep a descriptor in. Windows
// keeps handles to 32 bits even in a 64-bit process (they are shared with 32-bit ones), and
// HandleToLong / LongToHandle are its own conversions for that; INVALID_HANDLE_VALUE is -1.
HANDLE HandleOf(int fd) {
    return ::LongToHandle(fd);
}

} // namespace

FileReader::FileReader(const std::string& fileName) : name_(fileName) {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!fileName.empty() && fileName.find('\0') == std::string::npos)
        // Others may go on reading, writing or renaming it, as on the other systems.
        file = ::CreateFileW(detail::WideText(fileName).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                             nullptr);
    // Only a file on a disk: a folder does not open without a flag that is not given (and
    // would show as one in its information), and a pipe or a device (CON, NUL, COM1) is
    // refused here, before anything waits on it.
    BY_HANDLE_FILE_INFORMATION information{};
    LARGE_INTEGER size{};
    if (file != INVALID_HANDLE_VALUE &&
        (::GetFileType(file) != FILE_TYPE_DISK ||
         !::GetFileInformationByHandle(file, &information) ||
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
         !::GetFileSizeEx(file, &size))) {
        ::CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE)
        throw EFOpenError(fileName);
    fd_ = ::HandleToLong(file);
    size_ = size.QuadPart;
}

FileReader::~FileReader() {
    if (fd_ != -1)
        ::CloseHandle(HandleOf(fd_));
}

std::size_t FileReader::Read(void* buffer, std::size_t length) {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
    DWORD count = 0;
    if (!::ReadFile(HandleOf(fd_), buffer, wanted, &count, nullptr))
        throw Exception(FormatMessage("Read error on file %s", name_));
    position_ += count;
    return count;
}

} // namespace platform
