// What a path is on Windows: drives, shares and both delimiters, and names in any script.
#include "platform/paths.h"
#include "platform/private_file.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(WindowsPathsTest, DrivesSharesAndBothDelimiters) {
    struct Row {
        const char* path;
        bool absolute;
        const char* fileName;
    };
    const Row rows[] = {
        {"C:\\Updates\\KDX0042.SVF", true, "KDX0042.SVF"},
        {"C:/Updates/KDX0042.SVF", true, "KDX0042.SVF"},
        {"\\\\server\\share\\KDX0042.SVF", true, "KDX0042.SVF"},
        {"C:KDX0042.SVF", false, "KDX0042.SVF"}, // the drive's working folder
        {"\\Updates\\ca.pem", false, "ca.pem"},  // the working drive's root
        {"Updates\\ca.pem", false, "ca.pem"},
        {"ca.pem", false, "ca.pem"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(platform::IsAbsolutePath(row.path), row.absolute) << row.path;
        EXPECT_EQ(platform::ExtractFileName(row.path), row.fileName) << row.path;
        EXPECT_TRUE(platform::IsAbsolutePath(platform::AbsolutePath(row.path))) << row.path;
    }
}

TEST(WindowsPathsTest, FoldersNamedInAnyScriptAreFoundAndRead) {
    const test_support::TemporaryDirectory folder;
    // "Mises à jour 更新" in UTF-8, as every path of the interface is.
    const std::string package = platform::IncludeTrailingPathDelimiter(folder.Path().string()) +
                                "Mises \xc3\xa0 jour \xe6\x9b\xb4\xe6\x96\xb0";
    ASSERT_FALSE(platform::DirectoryExists(package));
    ASSERT_TRUE(platform::WritePrivateFile(package + "-password.txt", "secret\n"));
    std::FILE* file = platform::OpenForReading(package + "-password.txt");
    ASSERT_NE(file, nullptr);
    char line[16] = {};
    EXPECT_NE(std::fgets(line, sizeof line, file), nullptr);
    std::fclose(file);
    EXPECT_STREQ(line, "secret\n");
    EXPECT_TRUE(platform::FileExists(package + "-password.txt"));
    EXPECT_EQ(platform::ReadFileBytes(package + "-password.txt"), "secret\n");
}

} // namespace
