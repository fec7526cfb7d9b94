#include "platform/file_reader.h"

namespace platform {

std::string ReadWholeFile(const std::string& fileName) {
    FileReader file(fileName);
    std::string bytes;
    char block[65536];
    while (const std::size_t count = file.Read(block, sizeof block))
        bytes.append(block, count);
    return bytes;
}

} // namespace platform
