// Where the machine's bare-named profile files (KDXInst.Ini) live on Windows: the Windows
// folder's file when there is one, otherwise the program data folder's "Apply Update"; a
// change goes back where the file was found; of two files the one written last is read.
// Runs against the wine prefix's own folders with a name of its own, removed afterwards.
#include "platform/profile_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path Folder(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? fs::path(value) : fs::path();
}

class WindowsSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Folder("SystemRoot").empty());
        ASSERT_FALSE(Folder("ProgramData").empty());
        Remove();
    }
    void TearDown() override { Remove(); }

    void Remove() {
        std::error_code ignored;
        fs::remove(windows_, ignored);
        fs::remove(programData_, ignored);
    }

    static void Write(const fs::path& file, const std::string& value) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << "[Last]\r\nTgtlib=" << value << "\r\n";
    }

    std::string Read() const {
        return platform::ProfileFile(kName).ReadString("Last", "Tgtlib", "");
    }

    static constexpr const char* kName = "ApplyUpdateWineTest.Ini";
    const fs::path windows_ = Folder("SystemRoot") / kName;
    const fs::path programData_ = Folder("ProgramData") / "Apply Update" / kName;
};

TEST_F(WindowsSettingsTest, WithoutAWindowsFolderFileTheProgramDataFolderHoldsIt) {
    platform::ProfileFile(kName).WriteString("Last", "Tgtlib", "KDXPROD");
    EXPECT_TRUE(fs::exists(programData_));
    EXPECT_FALSE(fs::exists(windows_));
    EXPECT_EQ(Read(), "KDXPROD");
}

TEST_F(WindowsSettingsTest, TheWindowsFolderFileIsReadAndWrittenWhereItIs) {
    Write(windows_, "OLDLIB");
    EXPECT_EQ(Read(), "OLDLIB");
    platform::ProfileFile(kName).WriteString("Last", "Tgtlib", "KDXPROD");
    EXPECT_FALSE(fs::exists(programData_)); // the Windows folder can be written here
    EXPECT_EQ(Read(), "KDXPROD");
}

TEST_F(WindowsSettingsTest, OfTwoFilesTheOneWrittenLastIsRead) {
    Write(windows_, "WINLIB");
    Write(programData_, "DATALIB");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(windows_, now - std::chrono::hours(1));
    fs::last_write_time(programData_, now);
    EXPECT_EQ(Read(), "DATALIB");
    fs::last_write_time(programData_, now - std::chrono::hours(2));
    EXPECT_EQ(Read(), "WINLIB");
}

} // namespace
