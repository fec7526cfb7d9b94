// A file opened for reading in blocks. Only a regular file is opened, and opening never
// blocks: anything else (a directory, a FIFO, a device) fails at once, as a missing file
// does, with EFOpenError ("Cannot open file %s").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class FileReader {
public:
    explicit FileReader(const std::string& fileName);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    std::int64_t Size() const { return size_; }
    std::int64_t Position() const { return position_; }
    // Reads up to `length` bytes at the current position; returns the count read (0 at the
    // end). A read error raises Exception.
    std::size_t Read(void* buffer, std::size_t length);

private:
    friend class FileSender; // sends from the same handle and position, without a read
    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::string name_;
};

// The whole contents of a regular file, opened as FileReader opens it.
std::string ReadWholeFile(const std::string& fileName);

} // namespace platform
