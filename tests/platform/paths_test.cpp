#include "platform/exception.h"
#include "platform/paths.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

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

    std::filesystem::create_directory(dir / "sub");
    for (const std::string& path : {dir / "missing", dir / "sub"}) {
        try {
            platform::ReadFileBytes(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const platform::EFOpenError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file " + path);
        }
    }
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
