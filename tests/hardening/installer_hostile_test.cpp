// The whole Apply against a host that fails it: the connection closed while the install
// command's reply is awaited, a host that greets and then says nothing, a host that
// promises a data connection and never opens it, a refusal after the data, a damaged
// descriptor and a settings directory that cannot be written. Each time the operator must
// see what happened, and never "successfully applied".
#include "tests/hardening/installer_run.h"

#include "tests/support/scripted_ftp_peer.h"

#include "installer/procedure/apply_texts.h"
#include "platform/paths.h"
#include "socket/thread_timer.h"

#include <algorithm>

namespace {

using test_support::InstallerRun;
using test_support::ReadFile;
using test_support::WriteFile;
const std::string kSuccess = "Update MYUPD successfully applied.";

// The host closes the connection while the run awaits its answer to a command whose
// failure the run reads as the host's verdict (missing save file, locked object, failed
// install). A connection that is gone said nothing of the kind.
class LostConnection : public InstallerRun, public testing::WithParamInterface<const char*> {
protected:
    bool LoggedPart(const std::string& part) const {
        return std::any_of(ui.log.begin(), ui.log.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    }
};

TEST_P(LostConnection, IsReportedAsALostConnectionNeverAsTheHostsAnswer) {
    StartHost({"--close-on", GetParam()});
    StandardDescriptor();
    Apply();
    // After the loss, the log holds nothing but the failure summary.
    const auto lost = std::find(ui.log.begin(), ui.log.end(), installer::kConnectionLost);
    ASSERT_NE(lost, ui.log.end());
    EXPECT_EQ(std::vector<std::string>(lost + 1, ui.log.end()),
              (std::vector<std::string>{" ", "Update MYUPD was not successfully applied, please",
                                        installer::kCheckPreviousMessages}));
    for (const char* answer : {installer::kIsLocked, installer::kMayHaveFailed})
        EXPECT_FALSE(LoggedPart(answer)) << answer;
    EXPECT_EQ(ui.errorDialogs, (std::vector<std::string>{installer::kErrorsOccurred}));
    EXPECT_TRUE(reports.empty()) << reports.front();
    EXPECT_FALSE(ftp->Connected);
    // The closed connection was not asked for QUIT.
    const auto commands = HostCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), 0);
    EXPECT_NE(ReadFile(settings_ / "KDXInst.Ini").find("User=QSECOFR"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryAnsweredStep, LostConnection,
                         testing::Values("chkobj", "crtsavf", "clrsavf", "rstobj", "w_chklck",
                                         "zlclupd"));

TEST_F(InstallerRun, InstallAnsweredWithoutAReplyCodeIsNoSuccess) {
    StartHost({"--reply-to", "zlclupd", "Update installed."});
    StandardDescriptor();
    Apply();
    EXPECT_FALSE(Logged(kSuccess));
    EXPECT_EQ(reports, (std::vector<std::string>{"Invalid reply from server: Update installed."}));
    EXPECT_FALSE(ftp->Connected);
}

TEST_F(InstallerRun, GreetingThenSilenceEndsAtTheConnectionBound) {
    StartHost({"--silent-after-command", "0"});
    StandardDescriptor();
    Load();
    procedure->WaitBoundMs = 500;
    Apply();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "The AS/400 at 127.0.0.1:" + std::to_string(host->Port()) +
                              " did not answer within 500 milliseconds.");
    EXPECT_FALSE(Logged(kSuccess));
    EXPECT_FALSE(ftp->Connected);
    EXPECT_TRUE(ui.errorDialogs.empty());
    // Nothing beyond USER reached the host, apart from the clean-up's QUIT.
    auto commands = HostCommands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "USER QSECOFR");
    commands.erase(commands.begin());
    EXPECT_TRUE(commands.empty() || commands == std::vector<std::string>{"QUIT"});
}

TEST_F(InstallerRun, DataConnectionPromisedButNeverOpenedEndsAtTheTransferBound) {
    StartHost({"--no-data-connect"});
    StandardDescriptor();
    Load();
    procedure->WaitBoundMs = 500;
    Apply();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("did not open the data connection"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("W_CHKLCKSF.SVF"), std::string::npos) << reports[0];
    EXPECT_FALSE(Logged(kSuccess));
    EXPECT_FALSE(Logged(installer::kRestoringLockCheck));
    EXPECT_FALSE(ftp->Connected);
}

TEST_F(InstallerRun, Stor150Then425WithoutConnectingBackEndsAtTheTransferBound) {
    // A host that answers STOR with 150 and at once with 425, and never connects back.
    test_support::ScriptedFtpPeer peer(std::chrono::milliseconds(20000));
    peer.LogOn("220 Hostile server ready\r\n")
        .Reply("200 TYPE I\r\n")
        .Reply("250 CWD\r\n")
        .Reply("250 CHGJOB\r\n")
        .Reply("250 CHKOBJ\r\n")
        .Reply("250 CLRSAVF\r\n")
        .Reply("200 PORT\r\n")
        .Reply("150 Opening data connection\r\n425 Can't open data connection\r\n")
        .AwaitClientClose();
    peer.Start();
    StandardDescriptor();
    Load();
    ui.fields[installer::ApplyField::SystemEdt] = "127.0.0.1:" + std::to_string(peer.Port());
    ui.fields[installer::ApplyField::UserIdEdt] = "QSECOFR";
    ui.fields[installer::ApplyField::PassEdt] = "pw";
    // Always active: the 425 is no reason to go the other way, and only the bound ends the
    // wait for the connection back.
    ui.connection.dataConnection = installer::DataConnectionChoice::Active;
    procedure->WaitBoundMs = 500;
    Apply();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("did not open the data connection"), std::string::npos) << reports[0];
    EXPECT_FALSE(Logged(kSuccess));
    EXPECT_FALSE(Logged(installer::kRestoringLockCheck));
    EXPECT_FALSE(ftp->Connected);
    EXPECT_FALSE(peer.DataConnectionMade());
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(InstallerRun, RefusalAfterTheDataEndsTheRunWithTheHostsReply) {
    StartHost({"--stor-final-reply", "452 Insufficient storage space in library."});
    StandardDescriptor();
    Apply();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "452 Insufficient storage space in library.\r\n");
    EXPECT_FALSE(Logged(kSuccess));
    // The lock check was not restored from a save file the host did not keep.
    EXPECT_FALSE(Logged(installer::kRestoringLockCheck));
    const auto commands = HostCommands();
    EXPECT_EQ(commands.back(), "QUIT");
}

TEST_F(InstallerRun, HostSilentOnTheInstallCommandIsEndedByTheOperatorsStop) {
    // The install command may take the host minutes, so no bound ends that wait; the
    // operator's Stop does.
    StartHost({"--silent-on", "zlclupd"});
    StandardDescriptor();
    Load();
    TThreadTimer stop;
    stop.SetEnabled(false);
    stop.SetInterval(300);
    stop.SetOnTimer([this, &stop](TObject*) {
        stop.SetEnabled(false);
        procedure->Stop();
    });
    ui.onLine = [&stop](const std::string& line) {
        if (line == installer::kInstallingUpdate)
            stop.SetEnabled(true);
    };
    Apply();
    EXPECT_TRUE(Logged(installer::kInstallingUpdate));
    EXPECT_TRUE(Logged(installer::kStopped));
    EXPECT_FALSE(Logged(kSuccess));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], installer::kStopped);
    EXPECT_FALSE(ftp->Connected);
}

TEST_F(InstallerRun, DescriptorOfGarbageRunsWithDefaultsAndStopsAtTheMissingUpdateFile) {
    StartHost();
    std::string garbage(20000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 37 + 11) % 256 == '[' ? 1 : (i * 37 + 11) % 256);
    DescriptorBytes(garbage);
    Apply();
    // With no Update key the host refuses the nameless save file, or, failing that, the
    // missing local file "*NONE" ends the run; either way it ends with a message.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].empty());
    EXPECT_FALSE(Logged("Update *NONE successfully applied."));
    // Every command went to the default support library; none carries a stray byte.
    for (const std::string& command : HostCommands()) {
        EXPECT_EQ(command.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
        if (command.rfind("CWD ", 0) == 0) {
            EXPECT_EQ(command, "CWD KDXSUPPT");
        }
    }
}

TEST_F(InstallerRun, VeryLongDescriptorValuesAreRefusedBeforeAnythingIsSent) {
    StartHost({"--locked", "LIB/" + std::string(10, 'O')});
    const std::string longLock = "LIB/" + std::string(5000, 'O');
    DescriptorBytes("[Defaults]\r\nUpdate=MYUPD\r\nFilename=MYUPD.SVF\r\nLock1=" + longLock +
                    "\r\nType1=" + std::string(3000, 'T') + "\r\n");
    Apply();
    // No name is longer than ten characters; the value as read (cut to 2047) is named.
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].find("The update descriptor's Lock1 value \"" +
                                  longLock.substr(0, 2047) + "\" is not an IBM i object"),
              0u);
    EXPECT_TRUE(HostCommands().empty());
    EXPECT_FALSE(Logged(kSuccess));
}

TEST_F(InstallerRun, SettingsDirectoryThatCannotBeWrittenIsReportedAfterTheRun) {
    StartHost();
    StandardDescriptor();
    WriteFile(dir_.Path() / "blocker", "a file, not a directory");
    platform::SetSettingsDirectory((dir_.Path() / "blocker" / "config").string());
    Apply();
    // The update itself went through and says so; then the settings could not be kept.
    EXPECT_TRUE(Logged(kSuccess));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Unable to write to KDXInst.Ini");
    EXPECT_EQ(ReadFile(dir_.Path() / "blocker"), "a file, not a directory");
}

} // namespace
