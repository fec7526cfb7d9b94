// Complete runs of the apply procedure against the IBM i host emulator.
#include "tests/installer/apply_fixture.h"

#include "installer/procedure/remembered_settings.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace {

using test_support::ApplyTest;
using test_support::LockCheckBytes;
using test_support::ReadFile;
using test_support::UpdateBytes;
using test_support::WriteFile;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const char kInstall[] = "rcmd zlclupd updid(MYUPD) updlib(KDXSUPPT) PRDLIB(QGPL) UPDFMT(*SAVF)";

class ApplyRunTest : public ApplyTest {};

TEST_F(ApplyRunTest, SuccessfulRunLogsEveryStepSendsTheScriptAndUploadsBothFiles) {
    StartHost({"--save-file", "KDXSUPPT/W_CHKLCKSF"});
    StandardDescriptor();
    Load();
    FillFields();
    Apply();

    const std::string ip = ui.fields[installer::ApplyField::SystemEdt];
    EXPECT_THAT(ui.log,
                ElementsAre(" ", "Connecting to: " + ip, " ", "Setting FTP mode to binary", " ",
                            "Changing current directory to KDXSUPPT", "Changing job to log errors",
                            "Transferring lock check...", "Restoring lock check...", " ",
                            "Checking for locks on object: APPLIB/ORDERS",
                            "Save file MYUPD not found in KDXSUPPT.  It will be created now.",
                            "Continuing transfer.", "Transferring update...", " ",
                            "Installing update.", "Update MYUPD successfully applied.", " ",
                            "The Apply Update process is complete."));
    EXPECT_THAT(
        HostCommands(),
        ElementsAre(
            "USER QSECOFR", "PASS " + host->Password(), "TYPE I", "CWD KDXSUPPT",
            "rcmd CHGJOB LOG(4 00 *SECLVL)", "rcmd chkobj obj(KDXSUPPT/W_CHKLCKSF) objtype(*FILE)",
            "rcmd clrsavf file(KDXSUPPT/W_CHKLCKSF)", "PORT", "STOR KDXSUPPT/W_CHKLCKSF",
            "rcmd rstobj obj(W_CHKLCK) savlib(qmrlib) dev(*savf) "
            "savf(KDXSUPPT/W_CHKLCKSF) rstlib(KDXSUPPT)",
            "rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(ORDERS    APPLIB    *FILE     )",
            "rcmd chkobj obj(KDXSUPPT/MYUPD) objtype(*FILE)", "rcmd crtsavf file(KDXSUPPT/MYUPD)",
            "rcmd clrsavf file(KDXSUPPT/MYUPD)", "PORT", "STOR MYUPD", kInstall, "QUIT"));
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "W_CHKLCKSF"), LockCheckBytes());
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), UpdateBytes());

    EXPECT_THAT(reports, IsEmpty());
    EXPECT_THAT(ui.errorDialogs, IsEmpty());
    EXPECT_FALSE(ftp->Connected);
    // Plain FTP is shown as such while connected (never in the log), then taken away.
    EXPECT_THAT(ui.securityStates, ElementsAre("Not secured", ""));
    EXPECT_FALSE(procedure->Result().secured);
}

TEST_F(ApplyRunTest, ProgressFollowsEachSaveFileKeepsItsSummaryAndGoesAtTheRunsEnd) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    Apply();

    // Per save file: its start, then its share rising to the whole, then its summary,
    // which stays until the next file starts.
    std::vector<std::string> shown;
    int permille = 0;
    for (const auto& [share, text] : ui.progress) {
        if (text.rfind("Sending ", 0) == 0) {
            EXPECT_EQ(share, 0) << text;
            permille = 0;
        }
        EXPECT_GE(share, permille) << text;
        permille = share;
        if (text.find('%') == std::string::npos)
            shown.push_back(text.substr(0, text.find(" in ")));
    }
    EXPECT_THAT(shown, ElementsAre("Sending W_CHKLCKSF.SVF...", "Sent W_CHKLCKSF.SVF: 70 KB",
                                   "Sending MYUPD.SVF...", "Sent MYUPD.SVF: 150 KB"));
    EXPECT_EQ(ui.progress.back().first, 1000);
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_EQ(ui.progressHidden, 1);
}

TEST_F(ApplyRunTest, BusyPartDisablesInOrderKeepsStopAndRestoresEverything) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    Apply();

    EXPECT_THAT(ui.calls,
                ElementsAre("busy cursor", "disable window", "disable SystemEdt",
                            "disable UserIdEdt", "disable PassEdt", "disable TargetLibEdt",
                            "disable Replaceopt", "disable ApplyBtn", "disable CancelBtn",
                            "enable CancelBtn", "clear log", "normal cursor", "enable window",
                            "enable SystemEdt", "enable UserIdEdt", "enable PassEdt",
                            "enable TargetLibEdt", "enable Replaceopt", "enable ApplyBtn",
                            "enable CancelBtn"));
    EXPECT_THAT(busyChanges, ElementsAre(true, false));
    EXPECT_FALSE(procedure->Busy());
}

TEST_F(ApplyRunTest, RemembersIpAndUserButNeverThePassword) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    Apply();

    const std::string settings = File("KDXInst.Ini");
    EXPECT_THAT(settings, HasSubstr("IP=" + ui.fields[installer::ApplyField::SystemEdt]));
    EXPECT_THAT(settings, HasSubstr("User=QSECOFR"));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.Path())) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name == "MYUPD.SVF" || name == "W_CHKLCKSF.SVF")
            continue;
        EXPECT_THAT(ReadFile(entry.path()), Not(HasSubstr(host->Password()))) << entry.path();
    }
}

TEST_F(ApplyRunTest, NameFormatChoicesSendTheirSiteCommandFirst) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();

    ui.nameFormat = installer::kNameFormatLibrary;
    Apply();
    EXPECT_EQ(HostCommands().at(2), "site namefmt 0");
    EXPECT_EQ(ui.log.at(2), " ");
    EXPECT_EQ(ui.log.at(3), "Setting name format: site namefmt 0");
    EXPECT_EQ(ui.log.at(5), "Setting FTP mode to binary");

    ui.nameFormat = installer::kNameFormatPath;
    const std::size_t before = host->Commands().size();
    Apply();
    EXPECT_EQ(HostCommands().at(before + 2), "site namefmt 1");
    EXPECT_EQ(ui.log.at(3), "Setting name format: site namefmt 1");
    EXPECT_THAT(reports, IsEmpty());
}

TEST_F(ApplyRunTest, InstallCommandCarriesTargetLibraryAsTypedAndReplaceLast) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    ui.fields[installer::ApplyField::TargetLibEdt] = "mylib";
    Apply();
    ui.replace = true;
    Apply();

    std::vector<std::string> installs;
    for (const std::string& command : host->Commands())
        if (command.find("zlclupd") != std::string::npos)
            installs.push_back(command);
    EXPECT_THAT(
        installs,
        ElementsAre("rcmd zlclupd updid(MYUPD) updlib(KDXSUPPT) PRDLIB(mylib) UPDFMT(*SAVF)",
                    "rcmd zlclupd updid(MYUPD) updlib(KDXSUPPT) PRDLIB(mylib) UPDFMT(*SAVF)"
                    " REPLACE(*YES)"));
}

TEST_F(ApplyRunTest, WithoutLockEntriesNoLockCheckIsCalled) {
    StartHost();
    Descriptor("Update=MYUPD\r\nFilename=MYUPD.SVF\r\nLock2=APPLIB/ORDERS\r\n");
    Load();
    FillFields();
    Apply();

    for (const std::string& command : host->Commands())
        EXPECT_THAT(command, Not(HasSubstr("call PGM"))) << command;
    EXPECT_THAT(ui.log, Not(::testing::Contains(HasSubstr("Checking for locks"))));
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
}

TEST_F(ApplyRunTest, LockEntriesArePaddedAndCheckedInOrder) {
    StartHost();
    Descriptor("Update=MYUPD\r\nFilename=MYUPD.SVF\r\nLock1=APPLIB/ORDERS\r\nType1=*FILE\r\n"
               "Lock2=NOSLASH\r\nType2=*PGM\r\nLock3=LIB/OBJECTNAME\r\n");
    Load();
    FillFields();
    Apply();

    std::vector<std::string> calls;
    for (const std::string& command : host->Commands())
        if (command.find("call PGM") != std::string::npos)
            calls.push_back(command);
    EXPECT_THAT(
        calls,
        ElementsAre("rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(ORDERS    APPLIB    *FILE     )",
                    "rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(NOSLASH             *PGM      )",
                    "rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(OBJECTNAMELIB                 )"));
}

TEST_F(ApplyRunTest, FilesPlantedInTheWorkingFolderAreNeverSent) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    const std::filesystem::path elsewhere = dir_.Path() / "cwd";
    std::filesystem::create_directories(elsewhere);
    WriteFile(elsewhere / "W_CHKLCKSF.SVF", "planted lock check");
    WriteFile(elsewhere / "MYUPD.SVF", "planted update");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere);
    Apply();
    std::filesystem::current_path(previous);

    EXPECT_EQ(host->StoredFile("KDXSUPPT", "W_CHKLCKSF"), LockCheckBytes());
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), UpdateBytes());
    EXPECT_THAT(reports, IsEmpty());
}

} // namespace
