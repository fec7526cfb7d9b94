// Runs that end early: validation, the readme gate, locked objects, a failing install, a
// refused log-on and missing descriptor keys.
#include "tests/installer/apply_fixture.h"

#include "platform/socket_api.h"

#include <gmock/gmock.h>

#include <set>

namespace {

using installer::ApplyField;
using test_support::ApplyTest;
using test_support::UpdateBytes;
using test_support::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// A port on 127.0.0.1 that refuses connections: bound, never listening, kept while the
// object lives so no one else can take it.
class RefusingPort {
public:
    RefusingPort() : socket_(platform::SocketCreate()) {
        platform::SocketBind(socket_, {platform::InetAddr("127.0.0.1"), 0});
        platform::SocketAddressV4 local;
        platform::SocketLocalName(socket_, &local);
        port_ = local.port;
    }
    ~RefusingPort() { platform::SocketClose(socket_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return port_; }

private:
    platform::SocketHandle socket_;
    std::uint16_t port_ = 0;
};

class ApplyFailuresTest : public ApplyTest {
protected:
    bool SettingsWritten() const { return std::filesystem::exists(settings_ / "KDXInst.Ini"); }
    bool HostSent(const std::string& part) const {
        for (const std::string& command : host->Commands())
            if (command.find(part) != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(ApplyFailuresTest, ValidationStopsBeforeAnythingChanges) {
    StartHost();
    StandardDescriptor();
    Load();
    struct Case {
        std::string ip, user, password, message;
        std::set<ApplyField> unsendable = {}; // fields holding a character beyond Latin-1
    };
    const std::string ip = "127.0.0.1:" + std::to_string(host->Port());
    const std::string cannot = " contains a character that cannot be sent to the AS/400.";
    const Case cases[] = {
        {"", "QSECOFR", "pw", "You must specify a valid IP Address"},
        {ip, "", "pw", "You must type a valid AS/400 User ID"},
        {ip, "QSECOFR", "", "You must type a password for this User ID"},
        {"127.0.0.1:", "QSECOFR", "pw",
         "The port after \":\" in the AS/400 IP Address must be "
         "a number from 1 to 65535"},
        {"127.0.0.1:70000", "QSECOFR", "pw",
         "The port after \":\" in the AS/400 IP Address "
         "must be a number from 1 to 65535"},
        {"127.0.0.1:21x", "QSECOFR", "pw",
         "The port after \":\" in the AS/400 IP Address "
         "must be a number from 1 to 65535"},
        // A character that cannot be sent is refused by the field's caption, in the order
        // of the fields, each after its own emptiness check.
        {ip, "QSECOFR", "pw", "The AS/400 IP Address" + cannot, {ApplyField::SystemEdt}},
        {ip, "QSECOFR", "pw", "The User ID" + cannot, {ApplyField::UserIdEdt}},
        {ip, "QSECOFR", "pw", "The Password" + cannot, {ApplyField::PassEdt}},
        {ip, "QSECOFR", "pw", "The Target library" + cannot, {ApplyField::TargetLibEdt}},
        {ip,
         "QSECOFR",
         "pw",
         "The User ID" + cannot,
         {ApplyField::UserIdEdt, ApplyField::PassEdt, ApplyField::TargetLibEdt}},
        {"", "QSECOFR", "pw", "You must specify a valid IP Address", {ApplyField::SystemEdt}},
        {"127.0.0.1:", "QSECOFR", "pw", "The Target library" + cannot, {ApplyField::TargetLibEdt}},
    };
    ui.log = {"kept"};
    for (const Case& c : cases) {
        ui.messages.clear();
        ui.fields[ApplyField::SystemEdt] = c.ip;
        ui.fields[ApplyField::UserIdEdt] = c.user;
        ui.fields[ApplyField::PassEdt] = c.password;
        ui.unsendable = c.unsendable;
        Apply();
        EXPECT_THAT(ui.messages, ElementsAre(c.message));
    }
    EXPECT_THAT(ui.log, ElementsAre("kept"));
    EXPECT_THAT(ui.progress, IsEmpty());
    EXPECT_THAT(ui.calls, Not(Contains("busy cursor")));
    EXPECT_THAT(host->Commands(), IsEmpty());
    EXPECT_FALSE(SettingsWritten());
    EXPECT_THAT(reports, IsEmpty());
}

TEST_F(ApplyFailuresTest, BlankPasswordAndPortSuffixWithBlanksPassValidation) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    ui.fields[ApplyField::SystemEdt] = "127.0.0.1: " + std::to_string(host->Port()) + " ";
    ui.fields[ApplyField::PassEdt] = "   ";
    Apply();
    EXPECT_THAT(ui.messages, IsEmpty());
    // The blanks went to the host as typed, which refused them.
    EXPECT_THAT(host->Commands(), Contains("PASS    "));
    EXPECT_THAT(ui.log, Contains(HasSubstr("Error connection attempt failed.")));
}

TEST_F(ApplyFailuresTest, CancelledReadmeGateDoesNothingAndAcknowledgedReadmeIsNotShownAgain) {
    StartHost();
    StandardDescriptor();
    WriteFile(Package("Readme.txt"), "Read me first.\n");
    Load();
    FillFields();
    ui.log = {"kept"};
    ui.readmeResult = installer::mrCancel;
    Apply();
    EXPECT_EQ(ui.readmeShown, 1);
    EXPECT_THAT(ui.log, ElementsAre("kept"));
    EXPECT_THAT(ui.calls, ElementsAre("readme"));
    EXPECT_THAT(host->Commands(), IsEmpty());
    EXPECT_FALSE(SettingsWritten());

    ui.readmeResult = installer::mrOk;
    ui.replace = true; // the second run installs the same update again
    Apply();
    Apply();
    EXPECT_EQ(ui.readmeShown, 2);
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
}

TEST_F(ApplyFailuresTest, FirstLockedObjectEndsTheScriptWithTheFailureSummaryAndDialog) {
    StartHost({"--locked", "APPLIB/ORDERS"});
    Descriptor("Update=MYUPD\r\nFilename=MYUPD.SVF\r\nLock1=APPLIB/ORDERS\r\nType1=*FILE\r\n"
               "Lock2=APPLIB/OTHER\r\nType2=*FILE\r\n");
    Load();
    FillFields();
    Apply();

    const auto restoring = std::find(ui.log.begin(), ui.log.end(), "Restoring lock check...");
    ASSERT_NE(restoring, ui.log.end());
    EXPECT_THAT(std::vector<std::string>(restoring + 1, ui.log.end()),
                ElementsAre(" ", "Checking for locks on object: APPLIB/ORDERS", " ",
                            "The object APPLIB/ORDERS is locked.", "The update cannot proceed.",
                            "Consult the Readme for possible rememdies.",
                            "Alternatively, use the following command",
                            "to determine which job(s) have a lock on the object:",
                            " \"WRKOBJLCK APPLIB/ORDERS *FILE\"", " ",
                            "Update MYUPD was not successfully applied, please",
                            "check previous messages to determine the cause."));
    EXPECT_THAT(
        ui.errorDialogs,
        ElementsAre("Errors occurred.  Please check messages listed to determine the cause."));
    EXPECT_FALSE(HostSent("APPLIB    OTHER") || HostSent("OTHER"));
    EXPECT_FALSE(HostSent("MYUPD"));
    EXPECT_EQ(host->Commands().back(), "QUIT");
    // Logged off and remembered before the summary and the dialog.
    EXPECT_TRUE(SettingsWritten());
    EXPECT_THAT(reports, IsEmpty());
}

TEST_F(ApplyFailuresTest, MissingTypeLeavesABlankBeforeTheClosingQuote) {
    StartHost({"--locked", "APPLIB/ORDERS"});
    Descriptor("Update=MYUPD\r\nFilename=MYUPD.SVF\r\nLock1=APPLIB/ORDERS\r\n");
    Load();
    FillFields();
    Apply();
    EXPECT_THAT(ui.log, Contains(" \"WRKOBJLCK APPLIB/ORDERS \""));
    EXPECT_TRUE(HostSent("PARM(ORDERS    APPLIB              )"));
}

TEST_F(ApplyFailuresTest, FailingInstallLogsTheHostsTrimmedTextAndShowsTheDialog) {
    StartHost({"--fail-install", "CPF9898: Install of MYUPD failed."});
    StandardDescriptor();
    Load();
    FillFields();
    Apply();

    const auto installing = std::find(ui.log.begin(), ui.log.end(), "Installing update.");
    ASSERT_NE(installing, ui.log.end());
    EXPECT_THAT(
        std::vector<std::string>(installing + 1, ui.log.end()),
        ElementsAre("The update apply process may have failed.",
                    "Error text recieved from AS/400:", "550-CPF9898: Install of MYUPD failed.",
                    "To view joblog on the AS/400 type: WRKSPLF QTCP",
                    "Browse the last spool file in the list to determine the cause.", " ",
                    "Update MYUPD was not successfully applied, please",
                    "check previous messages to determine the cause."));
    EXPECT_EQ(ui.errorDialogs.size(), 1u);
    // The update's save file stays on the host.
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), UpdateBytes());
    EXPECT_THAT(reports, IsEmpty());
}

TEST_F(ApplyFailuresTest, RefusedConnectionLogsTheFailureAndReachesTheErrorReport) {
    StandardDescriptor();
    Load();
    {
        const RefusingPort refusing;
        ui.fields[ApplyField::SystemEdt] = "127.0.0.1:" + std::to_string(refusing.Port());
        ui.fields[ApplyField::UserIdEdt] = "QSECOFR";
        ui.fields[ApplyField::PassEdt] = "pw";
        Apply();
    }

    EXPECT_THAT(ui.log, ElementsAre(" ", "Connecting to: " + ui.fields[ApplyField::SystemEdt], " ",
                                    "Error connection attempt failed.  Check AS/400 IP address, "
                                    "and User ID / Password"));
    EXPECT_THAT(reports, ElementsAre("Connection Failed"));
    EXPECT_THAT(ui.errorDialogs, IsEmpty());
    EXPECT_TRUE(SettingsWritten());

    // The same client connects on the next press.
    StartHost();
    FillFields();
    reports.clear();
    Apply();
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
    EXPECT_THAT(reports, IsEmpty());
}

TEST_F(ApplyFailuresTest, WrongPasswordLogsTheFailureAndReportsTheHostsReply) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields("wrong");
    Apply();
    EXPECT_EQ(ui.log.back(),
              "Error connection attempt failed.  Check AS/400 IP address, and User ID / Password");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], StartsWith("530"));
    EXPECT_THAT(HostCommands(), ElementsAre("USER QSECOFR", "PASS wrong", "QUIT"));
    EXPECT_TRUE(SettingsWritten());
}

TEST_F(ApplyFailuresTest, MissingUpdateKeySendsAnEmptyIdentifier) {
    StartHost();
    Descriptor("Filename=MYUPD.SVF\r\n");
    Load();
    FillFields();
    Apply();
    EXPECT_TRUE(HostSent("rcmd chkobj obj(KDXSUPPT/) objtype(*FILE)"));
    // The host cannot create a save file without a name; that error ends the run.
    EXPECT_TRUE(HostSent("rcmd crtsavf file(KDXSUPPT/)"));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], StartsWith("550"));
    EXPECT_FALSE(HostSent("zlclupd"));
}

TEST_F(ApplyFailuresTest, MissingFilenameKeyEndsTheRunAtTheUpdatesUpload) {
    StartHost();
    Descriptor("Update=MYUPD\r\n");
    Load();
    FillFields();
    Apply();
    EXPECT_EQ(ui.log.back(), "Transferring update...");
    EXPECT_THAT(reports, ElementsAre("Cannot open file *NONE"));
    // The progress said so, and went with the run.
    ASSERT_FALSE(ui.progress.empty());
    EXPECT_EQ(ui.progress.back().second, "Sending *NONE failed");
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_FALSE(HostSent("STOR MYUPD"));
    EXPECT_FALSE(HostSent("zlclupd"));
    EXPECT_EQ(host->Commands().back(), "QUIT");
    EXPECT_THAT(ui.errorDialogs, IsEmpty());
}

TEST_F(ApplyFailuresTest, LineBreaksInFieldsNeverReachTheHostAsCommands) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    ui.fields[ApplyField::UserIdEdt] = "QSECOFR\r\nDELE x";
    Apply();
    EXPECT_FALSE(HostSent("DELE"));
    EXPECT_FALSE(HostSent("USER"));
    // Refused before it was sent; the settings file refuses the same text, and that later
    // error is the one reported.
    EXPECT_THAT(reports, ElementsAre("Unable to write to KDXInst.Ini"));

    ui.fields[ApplyField::UserIdEdt] = "QSECOFR";
    ui.fields[ApplyField::TargetLibEdt] = "QGPL)\nrcmd DLTLIB LIB(QGPL";
    reports.clear();
    Apply();
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_FALSE(HostSent("DLTLIB"));
    // No name, so refused before the log-on.
    EXPECT_THAT(ui.messages, ElementsAre(HasSubstr("is not an IBM i name")));
}

// What the descriptor or the target library field names goes into CL commands and local
// paths; anything that is not of its kind is refused, naming the key or field, before the
// log-on.
TEST_F(ApplyFailuresTest, ValuesThatAreNotOfTheirKindAreRefusedBeforeLogOn) {
    StartHost();
    const std::string standard = "Update=MYUPD\r\nFilename=MYUPD.SVF\r\n";
    struct Case {
        std::string descriptor; // [Defaults] lines
        std::string targetLibrary;
        std::string message;
    };
    const Case cases[] = {
        {"Update=MYUPD\r\nFilename=../outside.SVF\r\n", "QGPL",
         "The update descriptor's Filename value \"../outside.SVF\" is not a file of the package"},
        {"Update=MYUPD\r\nFilename=/etc/hostname\r\n", "QGPL", "Filename value \"/etc/hostname\""},
        {"Update=MYUPD\r\nFilename=sub\\MYUPD.SVF\r\n", "QGPL", "Filename value"},
        {"Update=MYUPD\r\nFilename=C:MYUPD.SVF\r\n", "QGPL", "Filename value"},
        {standard + "CAFile=../ca.pem\r\n", "QGPL", "CAFile value \"../ca.pem\""},
        {standard + "Tgtlib=PRODLIB) REPLACE(*YES\r\n", "QGPL",
         "The update descriptor's Tgtlib value \"PRODLIB) REPLACE(*YES\" is not an IBM i name"},
        {"Update=MY UPD\r\nFilename=MYUPD.SVF\r\n", "QGPL", "Update value \"MY UPD\""},
        {"Update=1MYUPD\r\nFilename=MYUPD.SVF\r\n", "QGPL", "Update value \"1MYUPD\""},
        {standard + "SPTLIB=LIB(X)\r\n", "QGPL", "SPTLIB value \"LIB(X)\""},
        {standard + "SPTLIB=ELEVENCHARS\r\n", "QGPL", "SPTLIB value \"ELEVENCHARS\""},
        {standard + "Lock1=APPLIB/ORDERS\r\nLock2=APPLIB/ORD) PARM(X\r\n", "QGPL",
         "Lock2 value \"APPLIB/ORD) PARM(X\" is not an IBM i object"},
        {standard + "Lock1=/ORDERS\r\n", "QGPL", "Lock1 value \"/ORDERS\""},
        {standard + "Lock1=LIB/OBJECTNAMEX\r\n", "QGPL", "Lock1 value \"LIB/OBJECTNAMEX\""},
        {standard + "Lock1=APPLIB/ORDERS\r\nType1=FILE\r\n", "QGPL",
         "Type1 value \"FILE\" is not an IBM i object type"},
        {standard, "PRODLIB) REPLACE(*YES",
         "The Target library \"PRODLIB) REPLACE(*YES\" is not an IBM i name"},
        {standard, ".QGPL", "The Target library \".QGPL\" is not an IBM i name"},
        {standard, "", "The Target library \"\" is not an IBM i name"},
    };
    for (const Case& c : cases) {
        Descriptor(c.descriptor);
        Load();
        FillFields();
        ui.fields[ApplyField::TargetLibEdt] = c.targetLibrary;
        ui.messages.clear();
        Apply();
        EXPECT_THAT(ui.messages, ElementsAre(HasSubstr(c.message))) << c.descriptor;
    }
    EXPECT_THAT(host->Commands(), IsEmpty());
    EXPECT_THAT(reports, IsEmpty());
}

} // namespace
