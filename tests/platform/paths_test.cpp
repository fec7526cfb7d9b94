#include "platform/exception.h"
#include "platform/file_reader.h"
#include "platform/paths.h"
#include "platform/profile_file.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using test_support::TemporaryDirectory;
using test_support::WriteFile;

TEST(ExecutablePathTest, NamesThisTestProgram) {
    const std::string path = platform::ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(platform::FileExists(path));
    EXPECT_EQ(std::filesystem::path(path).filename(), "platform_tests");
    EXPECT_EQ(platform::ExecutableDirectory(), platform::ExtractFilePath(path));
    EXPECT_EQ(platform::ExecutableDirectory().back(), '/');
}

TEST(PathTextTest, DirectoryPartAndTrailingDelimiter) {
    EXPECT_EQ(platform::ExtractFilePath("/a/b/prog"), "/a/b/");
    EXPECT_EQ(platform::ExtractFilePath("/prog"), "/");
    EXPECT_EQ(platform::ExtractFilePath("prog"), "");
    EXPECT_EQ(platform::ExtractFilePath("/a/b/"), "/a/b/");
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter("/a/b"), "/a/b/");
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter("/a/b/"), "/a/b/");
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter(""), "");
}

TEST(FileExistsTest, OnlyFilesCount) {
    TemporaryDirectory dir;
    WriteFile(dir / "file", "x");
    std::filesystem::create_directory(dir / "sub");
    EXPECT_TRUE(platform::FileExists(dir / "file"));
    EXPECT_FALSE(platform::FileExists(dir / "sub"));
    EXPECT_FALSE(platform::FileExists(dir / "missing"));
    EXPECT_FALSE(platform::FileExists(""));
}

TEST(ReadFileBytesTest, ReturnsEveryByteOrRaisesTheOpenError) {
    TemporaryDirectory dir;
    const std::string bytes("a\0\r\n\xff", 5);
    WriteFile(dir / "file", bytes);
    EXPECT_EQ(platform::ReadFileBytes(dir / "file"), bytes);
    WriteFile(dir / "empty", "");
    EXPECT_EQ(platform::ReadFileBytes(dir / "empty"), "");

    // Only regular files, and never a wait: a FIFO without a writer would block an open
    // for ever, a device would never end.
    std::filesystem::create_directory(dir / "sub");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string& path :
         {dir / "missing", dir / "sub", dir / "fifo", std::string("/dev/zero")}) {
        for (const auto& read : {platform::ReadFileBytes, platform::ReadWholeFile}) {
            try {
                read(path);
                ADD_FAILURE() << "no error for " << path;
            } catch (const platform::EFOpenError& e) {
                EXPECT_EQ(e.Message(), "Cannot open file " + path);
            }
        }
    }
    // A descriptor that is a FIFO reads as a missing one.
    EXPECT_EQ(platform::ProfileFile(dir / "fifo").ReadString("Defaults", "Update", "*NONE"),
              "*NONE");
}

TEST(SettingsDirectoryTest, SettableAndRestorable) {
    const std::string original = platform::SettingsDirectory();
    EXPECT_FALSE(original.empty());
    platform::SetSettingsDirectory("/somewhere/else");
    EXPECT_EQ(platform::SettingsDirectory(), "/somewhere/else");
    platform::SetSettingsDirectory("");
    EXPECT_EQ(platform::SettingsDirectory(), original);
}

} // namespace
