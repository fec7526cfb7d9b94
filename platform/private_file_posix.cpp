#include "platform/private_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// The file a path names, through any symbolic links; the path itself when it names none.
std::string LinkTarget(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error))
        return path;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return error ? path : target.string();
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

} // namespace

std::FILE* OpenForReading(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return nullptr;
    return std::fopen(path.c_str(), "rb");
}

bool ReadableByOthers(std::FILE* file) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return true;
    return (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool WritePrivateFile(const std::string& path, const std::string& bytes) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const std::string target = LinkTarget(path);
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
        return false;
    // mkostemp creates the file with mode 0600, whatever the umask.
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace platform
