#include "tests/support/temporary_directory.h"

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace test_support {

TemporaryDirectory::TemporaryDirectory()
    : folder_(std::make_unique<QTemporaryDir>(QDir::tempPath() + "/apply-update-test-XXXXXX")) {
    if (!folder_->isValid())
        throw std::runtime_error("cannot create a temporary folder: " +
                                 folder_->errorString().toStdString());
    path_ = folder_->path().toStdString();
}

TemporaryDirectory::~TemporaryDirectory() {
    // A test may have taken the owner's rights away from a folder to provoke an error; the
    // removal needs them back.
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::recursive_directory_iterator
             entry(path_, fs::directory_options::skip_permission_denied, ignored),
         end;
         !ignored && entry != end; entry.increment(ignored)) {
        std::error_code alsoIgnored;
        if (entry->is_directory(alsoIgnored))
            fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add,
                            alsoIgnored);
    }
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace test_support
