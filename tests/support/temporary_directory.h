// A fresh folder for one test, removed with everything in it when the object goes, and the
// helpers that write and read whole files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class QTemporaryDir;

namespace test_support {

class TemporaryDirectory {
public:
    // Throws std::runtime_error when the folder cannot be made.
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    // The folder, without a trailing "/".
    const std::filesystem::path& Path() const { return path_; }
    // A path inside the folder, as text.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::filesystem::path path_;
};

// Writes bytes to a file, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// Every byte of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

} // namespace test_support
