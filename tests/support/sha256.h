// SHA-256 for checking what arrived at a test server, streamed so that large files are
// hashed without being loaded whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace test_support {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // Lower-case hex digest; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);

    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

std::string Sha256Hex(const std::string& bytes);
// Throws std::runtime_error when the file cannot be read.
std::string Sha256OfFile(const std::filesystem::path& file);

} // namespace test_support
