// The C++ launcher of the host emulator: start-up on a free port, its record and stored
// files as tests see them, failures to start, and a real session of the FTP client.
#include "tests/support/host_emulator.h"

#include "ftp/ftp_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using test_support::HostEmulator;
using test_support::HostEmulatorConfig;
using test_support::ParseRecordLine;
using Lines = std::vector<std::string>;

// --- the launcher itself ---

TEST(HostEmulatorLauncher, StartsOnAFreePortWithTheRequestedObjects) {
    HostEmulator host({.options = {"--save-file", "KDXSUPPT/W_CHKLCKSF", "--library", "APPLIB"}});
    EXPECT_NE(host.Port(), 0);
    EXPECT_EQ(host.StoredFile("kdxsuppt", "w_chklcksf"), std::string());
    EXPECT_EQ(host.StoredFile("KDXSUPPT", "MISSING"), std::nullopt);
    EXPECT_TRUE(std::filesystem::is_directory(host.LibraryRoot() / "APPLIB"));
    EXPECT_TRUE(host.Commands().empty());
}

TEST(HostEmulatorLauncher, TwoHostsGetTheirOwnPortsAndFolders) {
    HostEmulator first;
    HostEmulator second;
    EXPECT_NE(first.Port(), second.Port());
    EXPECT_NE(first.LibraryRoot(), second.LibraryRoot());
}

TEST(HostEmulatorLauncher, StopRemovesTheFolderAndMayBeRepeated) {
    HostEmulator host;
    const auto root = host.LibraryRoot();
    host.Stop();
    host.Stop();
    EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(HostEmulatorLauncher, AnUnknownOptionFailsWithTheEmulatorsComplaint) {
    try {
        HostEmulator host({.options = {"--no-such-option"}});
        FAIL() << "the emulator started";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("unrecognized arguments: --no-such-option"),
                  std::string::npos)
            << error.what();
    }
}

// --- the record's lines ---

TEST(HostEmulatorRecord, LinesGiveSessionAndCommandWithEveryByteRestored) {
    const auto plain =
        ParseRecordLine(R"j({"session": 3, "command": "rcmd CHGJOB LOG(4 00 *SECLVL)"})j");
    EXPECT_EQ(plain.session, 3);
    EXPECT_EQ(plain.command, "rcmd CHGJOB LOG(4 00 *SECLVL)");

    const auto escaped =
        ParseRecordLine(R"({"command": "a\"b\\c\/d\t\r\n\u0000\u00e9\u00ff", "session": 12})");
    EXPECT_EQ(escaped.session, 12);
    EXPECT_EQ(escaped.command, std::string("a\"b\\c/d\t\r\n\0\xe9\xff", 13));
}

TEST(HostEmulatorRecord, MalformedLinesAreRefused) {
    for (const std::string line :
         {"", "{}", R"({"session": 1})", R"({"command": "x")", R"({"command": "x"} junk)",
          R"({"command": "\u0100"})", R"({"command": "\u00e"})", R"({"command": "\q"})",
          R"({"command": "unterminated})", R"({"session": x, "command": "y"})"}) {
        EXPECT_THROW(ParseRecordLine(line), std::runtime_error) << line;
    }
}

// --- a session of the FTP client against the emulator ---

class HostEmulatorSession : public ::testing::Test {
protected:
    void SetUp() override { folder = std::filesystem::path(host.LibraryRoot()).parent_path(); }

    void LogOn(const std::string& password) {
        ftp.Host = "127.0.0.1";
        ftp.Port = host.Port();
        ftp.UserID = "qsecofr";
        ftp.Password = password;
        ftp.Connect();
    }

    std::string WriteLocalFile(const std::string& name, const std::string& bytes) {
        const auto path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string Bytes() {
        std::string bytes;
        for (int i = 0; i < 100000; ++i)
            bytes += static_cast<char>((i * 7 + i / 256) & 0xff);
        return bytes;
    }

    HostEmulator host{{.options = {"--locked", "APPLIB/ORDERS"}}};
    std::filesystem::path folder;
    TFtpClient ftp;
};

TEST_F(HostEmulatorSession, UploadsActiveAndPassiveArriveWholeAndEveryCommandIsRecorded) {
    LogOn(host.Password());
    ftp.DoCommand("site namefmt 0");
    ftp.Mode(2);
    ftp.ChangeDir("KDXSUPPT");
    const std::string bytes = Bytes();
    ftp.Upload(WriteLocalFile("W_CHKLCKSF.SVF", bytes), "KDXSUPPT/W_CHKLCKSF");
    ftp.Passive = true;
    ftp.Upload(WriteLocalFile("UPD1.SVF", bytes.substr(0, 333)), "UPD1");
    ftp.Disconnect();

    EXPECT_EQ(host.StoredFile("KDXSUPPT", "W_CHKLCKSF"), bytes);
    EXPECT_EQ(host.StoredFile("KDXSUPPT", "UPD1"), bytes.substr(0, 333));
    Lines commands = host.Commands();
    ASSERT_EQ(commands.size(), 10u);
    // The client announces its own address and a port the system chose.
    EXPECT_EQ(commands[5].substr(0, 15), "PORT 127,0,0,1,");
    commands[5] = "PORT";
    EXPECT_EQ(commands, (Lines{"USER qsecofr", "PASS " + host.Password(), "site namefmt 0",
                               "TYPE I", "CWD KDXSUPPT", "PORT", "STOR KDXSUPPT/W_CHKLCKSF", "PASV",
                               "STOR UPD1", "QUIT"}));
}

TEST_F(HostEmulatorSession, FailuresComeBackAsTheHostsFirstReplyLine) {
    try {
        LogOn("wrong");
        FAIL() << "logged on with a wrong password";
    } catch (const FTPException& error) {
        EXPECT_STREQ(error.what(), "530 Log on attempt by user QSECOFR rejected.\r\n");
    }
    LogOn(host.Password());
    try {
        ftp.DoCommand("rcmd chkobj obj(KDXSUPPT/W_CHKLCKSF) objtype(*FILE)");
        FAIL() << "a missing save file was found";
    } catch (const FTPException& error) {
        EXPECT_STREQ(error.what(),
                     "550-CPF9801: Object W_CHKLCKSF in library KDXSUPPT not found.\r\n");
    }
    // The continuation lines were read with the reply: the next command gets its own.
    ftp.DoCommand("rcmd crtsavf file(KDXSUPPT/W_CHKLCKSF)");
    EXPECT_EQ(ftp.ReplyNumber, 250);
    ftp.Disconnect();
}

} // namespace
