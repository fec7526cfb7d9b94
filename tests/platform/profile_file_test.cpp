#include "platform/exception.h"
#include "platform/paths.h"
#include "platform/profile_file.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using platform::ProfileFile;
using test_support::ReadFile;
using test_support::TemporaryDirectory;
using test_support::WriteFile;

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetSettingsDirectory(dir / "config"); }
    void TearDown() override { platform::SetSettingsDirectory(""); }

    // Writes `bytes` to a file in the test directory and opens it by full path.
    ProfileFile FileWith(const std::string& bytes) {
        WriteFile(dir / "test.ini", bytes);
        return ProfileFile(dir / "test.ini");
    }

    std::string WriteError(const std::string& name) {
        try {
            ProfileFile(name).WriteString("System", "IP", "1.2.3.4");
        } catch (const platform::Exception& e) {
            return e.Message();
        }
        return "no error";
    }

    TemporaryDirectory dir;
};

TEST_F(ProfileFileTest, NamesMatchWithoutRegardToCase) {
    ProfileFile file = FileWith("[DeFaults]\nUPDATE=U1\nsptlib=lib\n");
    EXPECT_EQ(file.ReadString("Defaults", "Update", "x"), "U1");
    EXPECT_EQ(file.ReadString("DEFAULTS", "SPTLIB", "x"), "lib");
}

TEST_F(ProfileFileTest, BlanksAroundNamesAndValuesAreRemoved) {
    ProfileFile file = FileWith("  [ Defaults ]  \n\t Key one \t=  value with  inner blanks \t\n");
    EXPECT_EQ(file.ReadString("Defaults", "Key one", "x"), "value with  inner blanks");
}

TEST_F(ProfileFileTest, OnePairOfEnclosingQuotesIsRemoved) {
    ProfileFile file = FileWith("[S]\n"
                                "double=\"quoted value\"\n"
                                "single=' padded '\n"
                                "twice=\"\"two\"\"\n"
                                "mixed=\"open'\n"
                                "lone=\"\n"
                                "inner=a\"b\"c\n"
                                "blanks=  \"x\"  \n");
    EXPECT_EQ(file.ReadString("S", "double", ""), "quoted value");
    EXPECT_EQ(file.ReadString("S", "single", ""), " padded ");
    EXPECT_EQ(file.ReadString("S", "twice", ""), "\"two\"");
    EXPECT_EQ(file.ReadString("S", "mixed", ""), "\"open'");
    EXPECT_EQ(file.ReadString("S", "lone", ""), "\"");
    EXPECT_EQ(file.ReadString("S", "inner", ""), "a\"b\"c");
    EXPECT_EQ(file.ReadString("S", "blanks", ""), "x");
}

TEST_F(ProfileFileTest, MissingFileSectionOrKeyYieldsTheDefault) {
    EXPECT_EQ(ProfileFile(dir / "absent.ini").ReadString("S", "K", "dflt"), "dflt");
    ProfileFile file = FileWith("[S]\nK=v\n[T]\nOther=w\n");
    EXPECT_EQ(file.ReadString("Nope", "K", "dflt"), "dflt");
    EXPECT_EQ(file.ReadString("S", "Nope", "dflt"), "dflt");
    // A key of another section is not found in this one.
    EXPECT_EQ(file.ReadString("T", "K", "dflt"), "dflt");
    EXPECT_FALSE(file.ValueExists("T", "K"));
    // A directory is not a profile file.
    EXPECT_EQ(ProfileFile(dir.Path().string() + "/").ReadString("S", "K", "dflt"), "dflt");
}

TEST_F(ProfileFileTest, PresentButEmptyIsNotMissing) {
    ProfileFile file = FileWith("[S]\nEmpty=\nBlank=   \nQuotes=\"\"\nBare\n");
    for (const char* key : {"Empty", "Blank", "Quotes", "Bare"}) {
        EXPECT_EQ(file.ReadString("S", key, "dflt"), "") << key;
        EXPECT_TRUE(file.ValueExists("S", key)) << key;
    }
}

TEST_F(ProfileFileTest, ValuesAreCutTo2047Characters) {
    const std::string exact(2047, 'a');
    const std::string longer = std::string(2047, 'b') + "tail";
    ProfileFile file = FileWith("[S]\nexact=" + exact + "\nlonger=" + longer + "\n");
    EXPECT_EQ(file.ReadString("S", "exact", ""), exact);
    EXPECT_EQ(file.ReadString("S", "longer", ""), std::string(2047, 'b'));
    EXPECT_EQ(file.ReadString("S", "missing", longer).size(), 2047u);
}

TEST_F(ProfileFileTest, OddContentIsReadWithoutHarm) {
    std::string binary("\x01\x02\xff\xfe[\0]==\x80\n", 11);
    binary += "[S]\r\n";
    binary += "big=" + std::string(100 * 1024, 'z') + "\n";
    binary += "crlf=one\r\n";
    binary += "lf=two\n";
    binary += "nul=a";
    binary.push_back('\0');
    binary += "b\n";
    binary += "[S]\nlf=duplicate section\nonly=in second\n";
    binary += "[T]\nlast=no newline";
    ProfileFile file = FileWith(binary);
    EXPECT_EQ(file.ReadString("S", "big", "").size(), 2047u);
    EXPECT_EQ(file.ReadString("S", "crlf", ""), "one");
    EXPECT_EQ(file.ReadString("S", "lf", ""), "two"); // the first section of a name counts
    EXPECT_EQ(file.ReadString("S", "only", "dflt"), "dflt");
    EXPECT_EQ(file.ReadString("S", "nul", ""), std::string("a\0b", 3));
    EXPECT_EQ(file.ReadString("T", "last", ""), "no newline");
}

TEST_F(ProfileFileTest, WriteCreatesFileSectionAndKey) {
    ProfileFile file(dir / "new.ini");
    file.WriteString("System", "IP", "10.0.0.1");
    EXPECT_EQ(ReadFile(dir / "new.ini"), "[System]\nIP=10.0.0.1\n");
    file.WriteString("System", "User", "QSECOFR");
    file.WriteString("Other", "Key", "v");
    EXPECT_EQ(ReadFile(dir / "new.ini"), "[System]\nIP=10.0.0.1\nUser=QSECOFR\n[Other]\nKey=v\n");
    EXPECT_EQ(file.ReadString("system", "user", ""), "QSECOFR");
}

TEST_F(ProfileFileTest, WriteReplacesTheValueAndKeepsEveryOtherLine) {
    const std::string before = "; comment\r\n"
                               "[First]\r\n"
                               "  keep = as is  \r\n"
                               "\r\n"
                               "[System]\r\n"
                               "ip=old value\r\n"
                               "User=someone\r\n"
                               "\r\n"
                               "[Last]\r\n"
                               "tail=1";
    ProfileFile file = FileWith(before);
    file.WriteString("SYSTEM", "IP", "new");
    std::string expected = before;
    expected.replace(expected.find("ip=old value"), 12, "ip=new");
    EXPECT_EQ(ReadFile(dir / "test.ini"), expected);
}

TEST_F(ProfileFileTest, NewKeyGoesIntoItsSectionBeforeTheNextOne) {
    ProfileFile file = FileWith("[System]\r\nIP=1\r\n\r\n[Next]\r\nK=v\r\n");
    file.WriteString("System", "User", "me");
    EXPECT_EQ(ReadFile(dir / "test.ini"), "[System]\r\nIP=1\r\nUser=me\r\n\r\n[Next]\r\nK=v\r\n");
}

TEST_F(ProfileFileTest, NewSectionAfterALastLineWithoutLineBreak) {
    ProfileFile file = FileWith("[A]\nk=v");
    file.WriteString("B", "x", "y");
    EXPECT_EQ(ReadFile(dir / "test.ini"), "[A]\nk=v\n[B]\nx=y\n");
    ProfileFile sectionOnly = FileWith("[A]");
    sectionOnly.WriteString("A", "k", "v");
    EXPECT_EQ(ReadFile(dir / "test.ini"), "[A]\nk=v\n");
}

TEST_F(ProfileFileTest, WriteLeavesNoTemporaryFileBehind) {
    ProfileFile file(dir / "only.ini");
    file.WriteString("S", "K", "1");
    file.WriteString("S", "K", "2");
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename(), "only.ini");
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(ProfileFileTest, BareNameLivesInTheSettingsDirectory) {
    ProfileFile file("KDXInst.Ini");
    EXPECT_EQ(file.Path(), dir / "config/KDXInst.Ini");
    // The settings directory is created by the first write.
    file.WriteString("System", "IP", "1.1.1.1");
    EXPECT_EQ(ReadFile(dir / "config/KDXInst.Ini"), "[System]\nIP=1.1.1.1\n");
    EXPECT_EQ(ProfileFile("KDXInst.Ini").ReadString("System", "IP", ""), "1.1.1.1");
    // A name with a directory is used as it stands.
    EXPECT_EQ(ProfileFile(dir / "x.ini").Path(), dir / "x.ini");
    EXPECT_EQ(ProfileFile("sub/x.ini").Path(), "sub/x.ini");
}

TEST_F(ProfileFileTest, WrittenFileIsReadableByItsOwnerOnly) {
    using std::filesystem::perms;
    const std::string path = dir / "config/KDXInst.Ini";
    ProfileFile file("KDXInst.Ini");
    file.WriteString("System", "IP", "1.1.1.1");
    EXPECT_EQ(std::filesystem::status(path).permissions(), perms::owner_read | perms::owner_write);
    // One that others could read before is narrowed by the next write.
    std::filesystem::permissions(path, perms::owner_read | perms::owner_write | perms::group_read |
                                           perms::others_read);
    file.WriteString("System", "User", "QSECOFR");
    EXPECT_EQ(std::filesystem::status(path).permissions(), perms::owner_read | perms::owner_write);
    EXPECT_EQ(ReadFile(path), "[System]\nIP=1.1.1.1\nUser=QSECOFR\n");
}

TEST_F(ProfileFileTest, RefusedWriteRaisesWithTheNameAsOpened) {
    const std::string missingDir = dir / "no-such-dir/file.ini";
    EXPECT_EQ(WriteError(missingDir), "Unable to write to " + missingDir);

    WriteFile(dir / "plain", "not a directory");
    EXPECT_EQ(WriteError(dir / "plain/file.ini"), "Unable to write to " + (dir / "plain/file.ini"));

    // The settings directory cannot be created under a regular file.
    platform::SetSettingsDirectory(dir / "plain/config");
    EXPECT_EQ(WriteError("KDXInst.Ini"), "Unable to write to KDXInst.Ini");
}

TEST_F(ProfileFileTest, LineBreaksCannotBeWrittenIntoTheFile) {
    const std::string before = "[System]\nIP=1\n";
    ProfileFile file = FileWith(before);
    const std::string name = dir / "test.ini";
    const std::string message = "Unable to write to " + name;
    const auto refused = [&](const std::string& section, const std::string& key,
                             const std::string& value) {
        try {
            file.WriteString(section, key, value);
        } catch (const platform::Exception& e) {
            return e.Message() == message;
        }
        return false;
    };
    EXPECT_TRUE(refused("System", "IP", "1\n[Evil]\nK=v"));
    EXPECT_TRUE(refused("System", "IP", "1\rX=2"));
    EXPECT_TRUE(refused("System", "IP", std::string("a\0b", 3)));
    EXPECT_TRUE(refused("Sys]tem", "IP", "1"));
    EXPECT_TRUE(refused("System\n", "IP", "1"));
    EXPECT_TRUE(refused("System", "I=P", "1"));
    EXPECT_TRUE(refused("System", "  ", "1"));
    EXPECT_TRUE(refused("System", "[IP", "1"));
    EXPECT_EQ(ReadFile(name), before);
}

TEST_F(ProfileFileTest, UnreadableFileIsNotOverwritten) {
    const std::string name = dir / "locked.ini";
    WriteFile(name, "[System]\nIP=1\n[Keep]\nK=v\n");
    std::filesystem::permissions(name, std::filesystem::perms::none);
    if (std::ifstream(name).is_open())
        GTEST_SKIP() << "permission bits do not refuse reading for this user";
    ProfileFile file(name);
    EXPECT_EQ(file.ReadString("System", "IP", "dflt"), "dflt");
    EXPECT_THROW(file.WriteString("System", "IP", "2"), platform::Exception);
    std::filesystem::permissions(name, std::filesystem::perms::owner_read);
    EXPECT_EQ(ReadFile(name), "[System]\nIP=1\n[Keep]\nK=v\n");
}

} // namespace
