// The profile files against what a damaged package or a damaged machine may hold: binary
// garbage, enormous lines and values, missing sections, and a settings directory that
// cannot be written. Reads never fail (a damaged descriptor means defaults), writes either
// succeed whole or fail with "Unable to write to %s", and nothing else in a file is lost.
#include "installer/procedure/program_values.h"
#include "installer/procedure/remembered_settings.h"
#include "platform/exception.h"
#include "platform/paths.h"
#include "platform/profile_file.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte value, in an order that never spells a section header.
std::string Garbage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
        if (byte == '[')
            byte = '\x01';
    }
    return bytes;
}

class ProfileHardening : public ::testing::Test {
protected:
    void SetUp() override {
        package = directory.Path() / "pkg";
        settings = directory.Path() / "config";
        fs::create_directories(package);
        platform::SetSettingsDirectory(settings.string());
    }
    void TearDown() override { platform::SetSettingsDirectory(""); }

    installer::ProgramValues LoadDescriptor(const std::string& bytes) {
        WriteBytes(package / "update.Ini", bytes);
        return installer::LoadProgramValues((package / "apply-update").string());
    }

    test_support::TemporaryDirectory directory;
    fs::path package;
    fs::path settings;
};

// --- the update descriptor ---

TEST_F(ProfileHardening, DescriptorOfBinaryGarbageYieldsEveryDefault) {
    const auto values = LoadDescriptor(Garbage(256 * 1024, 1));
    EXPECT_EQ(values.shownUpdateId, "*NONE");
    EXPECT_EQ(values.supportLibrary, "KDXSUPPT");
    const auto texts = installer::ReadFieldTexts(*values.descriptor);
    EXPECT_EQ(texts.description, "AS/400 Software Update");
    EXPECT_EQ(texts.targetLibrary, "QGPL");
    EXPECT_EQ(values.descriptor->ReadString("Defaults", "Filename", "*NONE"), "*NONE");
    EXPECT_EQ(values.descriptor->ReadString("Defaults", "Lock1", ""), "");
}

TEST_F(ProfileHardening, GarbageAroundTheSectionDoesNotHideItsKeys) {
    const std::string descriptor = Garbage(5000, 2) + "\r\n[Defaults]\r\n" +
                                   std::string("\xff\xfe=\x01\x02\r\n\0\0\0\r\n", 12) +
                                   "Update=MYUPD\r\nSPTLIB = mylib \r\n" + Garbage(5000, 3);
    const auto values = LoadDescriptor(descriptor);
    EXPECT_EQ(values.shownUpdateId, "MYUPD");
    EXPECT_EQ(values.supportLibrary, "MYLIB");
}

TEST_F(ProfileHardening, VeryLongValuesAreCutAndVeryLongLinesHideNothing) {
    const std::string longValue(1 << 20, 'v');
    const std::string descriptor = "[Defaults]\r\n" + std::string(3 << 20, 'n') +
                                   "\r\nDescription=" + longValue + "\r\nUpdate=\"" +
                                   std::string(5000, 'u') + "\"\r\nSPTLIB=KDX\r\n";
    const auto values = LoadDescriptor(descriptor);
    EXPECT_EQ(values.shownUpdateId, std::string(2047, 'u'));
    EXPECT_EQ(values.supportLibrary, "KDX");
    EXPECT_EQ(installer::ReadFieldTexts(*values.descriptor).description, std::string(2047, 'v'));
}

TEST_F(ProfileHardening, OneLineOfTenMegabytesWithoutALineEndIsAnEmptyDescriptor) {
    const auto values = LoadDescriptor("[Defaults]" + std::string(10 << 20, '='));
    EXPECT_EQ(values.shownUpdateId, "*NONE");
    EXPECT_EQ(values.supportLibrary, "KDXSUPPT");
}

TEST_F(ProfileHardening, MissingSectionsAndKeysBeforeAnySectionYieldDefaults) {
    auto values = LoadDescriptor("Update=ORPHAN\r\nSPTLIB=ORPHAN\r\n[Other]\r\nUpdate=WRONG\r\n");
    EXPECT_EQ(values.shownUpdateId, "*NONE");
    EXPECT_EQ(values.supportLibrary, "KDXSUPPT");
    values = LoadDescriptor("");
    EXPECT_EQ(values.shownUpdateId, "*NONE");
    values = LoadDescriptor("[Defaults");
    EXPECT_EQ(values.shownUpdateId, "*NONE");
}

TEST_F(ProfileHardening, ADescriptorThatIsADirectoryYieldsDefaults) {
    fs::create_directories(package / "update.Ini");
    const auto values = installer::LoadProgramValues((package / "apply-update").string());
    EXPECT_EQ(values.shownUpdateId, "*NONE");
}

// --- the remembered settings ---

TEST_F(ProfileHardening, GarbageSettingsFileReadsAsDefaultsAndKeepsEveryByteOnWrite) {
    fs::create_directories(settings);
    const std::string garbage = Garbage(64 * 1024, 4);
    WriteBytes(settings / "KDXInst.Ini", garbage);
    const auto remembered = installer::ReadRememberedSettings();
    EXPECT_EQ(remembered.ip, "192.168.0.100");
    EXPECT_EQ(remembered.user, "QSECOFR");

    installer::RememberSettings("10.1.2.3", "OPERATOR");
    const std::string after = ReadBytes(settings / "KDXInst.Ini");
    EXPECT_EQ(after.compare(0, garbage.size(), garbage), 0) << "the other bytes were changed";
    const auto reread = installer::ReadRememberedSettings();
    EXPECT_EQ(reread.ip, "10.1.2.3");
    EXPECT_EQ(reread.user, "OPERATOR");
}

TEST_F(ProfileHardening, VeryLongRememberedValuesAreWrittenWholeAndReadCut) {
    installer::RememberSettings(std::string(100000, '1'), std::string(3000, 'U'));
    const auto remembered = installer::ReadRememberedSettings();
    EXPECT_EQ(remembered.ip, std::string(2047, '1'));
    EXPECT_EQ(remembered.user, std::string(2047, 'U'));
    const std::string file = ReadBytes(settings / "KDXInst.Ini");
    EXPECT_NE(file.find(std::string(100000, '1')), std::string::npos);
}

TEST_F(ProfileHardening, LineBreaksInRememberedValuesAreRefusedAndChangeNothing) {
    installer::RememberSettings("10.0.0.1", "FIRST");
    const std::string before = ReadBytes(settings / "KDXInst.Ini");
    for (const std::string& hostile :
         {std::string("10.0.0.2\r\n[System]\r\nIP=evil"), std::string("a\nb"), std::string("a\rb"),
          std::string("a\0b", 3)}) {
        try {
            installer::RememberSettings(hostile, "SECOND");
            ADD_FAILURE() << "a value with a line break was written";
        } catch (const platform::Exception& error) {
            EXPECT_EQ(error.Message(), "Unable to write to KDXInst.Ini");
        }
        EXPECT_EQ(ReadBytes(settings / "KDXInst.Ini"), before);
    }
}

TEST_F(ProfileHardening, SettingsDirectoryUnderARegularFileCannotBeWritten) {
    // Real even for root: no directory can be made below a regular file.
    WriteBytes(directory.Path() / "blocker", "a file, not a directory");
    platform::SetSettingsDirectory((directory.Path() / "blocker" / "config").string());
    try {
        installer::RememberSettings("10.0.0.1", "USER");
        FAIL() << "the write was reported as done";
    } catch (const platform::Exception& error) {
        EXPECT_EQ(error.Message(), "Unable to write to KDXInst.Ini");
    }
    // Reading the same place is no error.
    EXPECT_EQ(installer::ReadRememberedSettings().ip, "192.168.0.100");
    EXPECT_EQ(ReadBytes(directory.Path() / "blocker"), "a file, not a directory");
}

TEST_F(ProfileHardening, SettingsFileThatIsADirectoryCannotBeWritten) {
    fs::create_directories(settings / "KDXInst.Ini");
    try {
        installer::RememberSettings("10.0.0.1", "USER");
        FAIL() << "the write was reported as done";
    } catch (const platform::Exception& error) {
        EXPECT_EQ(error.Message(), "Unable to write to KDXInst.Ini");
    }
    EXPECT_TRUE(fs::is_directory(settings / "KDXInst.Ini"));
}

} // namespace
