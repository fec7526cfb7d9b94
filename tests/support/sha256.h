// SHA-256 digests, in lower-case hex, for checking what arrived at a test server.
#pragma once

#include <filesystem>
#include <string>

namespace test_support {

std::string Sha256Hex(const std::string& bytes);
// Streamed, so that large files are hashed without being loaded whole. Throws
// std::runtime_error when the file cannot be read.
std::string Sha256OfFile(const std::filesystem::path& file);

} // namespace test_support
