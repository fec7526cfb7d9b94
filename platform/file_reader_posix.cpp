#include "platform/file_reader.h"

#include "platform/exception.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileReader::FileReader(const std::string& fileName) : name_(fileName) {
    // Opened without blocking: a FIFO without a writer (or a device) would otherwise hold
    // the program in the open call before the check below could refuse it.
    if (fileName.find('\0') == std::string::npos)
        fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info {};
    if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0)
        throw EFOpenError(fileName);
    size_ = info.st_size;
}

FileReader::~FileReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::size_t FileReader::Read(void* buffer, std::size_t length) {
    for (;;) {
        const ssize_t count = ::read(fd_, buffer, length);
        if (count >= 0) {
            position_ += count;
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR)
            throw Exception(FormatMessage("Read error on file %s", name_));
    }
}

} // namespace platform
