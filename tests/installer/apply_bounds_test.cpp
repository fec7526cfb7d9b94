// The waits of a run that are bounded, the ones that are not, and the operator's Stop.
#include "tests/installer/apply_fixture.h"

#include "platform/socket_api.h"
#include "tests/support/scripted_ftp_peer.h"

#include <gmock/gmock.h>

namespace {

using installer::ApplyField;
using test_support::ApplyTest;
using test_support::LockCheckBytes;
using test_support::OneShot;
using test_support::UpdateBytes;
using test_support::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using Ms = std::chrono::milliseconds;

// Lowered so that the tests do not wait half a minute for each bound.
constexpr int kTestBoundMs = 300;

class ApplyBoundsTest : public ApplyTest {
protected:
    void LoadWithTestBound() {
        Load();
        procedure->WaitBoundMs = kTestBoundMs;
    }
    void FillFieldsFor(const test_support::ScriptedFtpPeer& peer) {
        ui.fields[ApplyField::SystemEdt] = "127.0.0.1:" + std::to_string(peer.Port());
        ui.fields[ApplyField::UserIdEdt] = "QSECOFR";
        ui.fields[ApplyField::PassEdt] = "pw";
        ui.fields[ApplyField::TargetLibEdt] = "QGPL";
    }
    // Stops the run shortly after the given line was logged.
    void StopAfterLine(const std::string& line) {
        ui.onLine = [this, line](const std::string& added) {
            if (added == line)
                stopper_ = std::make_unique<OneShot>(50, [this] { procedure->Stop(); });
        };
    }

    std::unique_ptr<OneShot> stopper_;
};

// Log-on and the steps before the first upload, with prompt replies.
void ScriptUpToFirstUpload(test_support::ScriptedFtpPeer& peer) {
    peer.Send("220 ready\r\n")
        .Reply("331 password\r\n")
        .Reply("230 logged on\r\n")
        .Reply("200 binary\r\n")
        .Reply("250 library\r\n")
        .Reply("250 job changed\r\n")
        .Reply("250 exists\r\n")
        .Reply("250 cleared\r\n")
        .Reply("200 PORT ok\r\n");
}

TEST_F(ApplyBoundsTest, HostThatNeverConnectsBackEndsTheRunWithinTheBound) {
    StartHost({"--no-data-connect"});
    StandardDescriptor();
    LoadWithTestBound();
    FillFields();
    Apply();

    EXPECT_THAT(reports,
                ElementsAre("The AS/400 did not open the data connection for " +
                            Package("W_CHKLCKSF.SVF").string() + " within 300 milliseconds."));
    EXPECT_EQ(ui.log.back(), "Transferring lock check...");
    // The host was given up on: closed without QUIT, the settings still remembered.
    EXPECT_THAT(host->Commands(), Not(Contains("QUIT")));
    EXPECT_FALSE(ftp->Connected);
    EXPECT_TRUE(std::filesystem::exists(settings_ / "KDXInst.Ini"));
    EXPECT_THAT(busyChanges, ElementsAre(true, false));
}

// A listener whose queue is full: the system drops further connection requests, as a host
// behind a firewall does, so a connection attempt gets no answer at all.
class UnansweringHost {
public:
    UnansweringHost() : listener_(platform::SocketCreate()) {
        platform::SocketBind(listener_, {platform::InetAddr("127.0.0.1"), 0});
        platform::SocketListen(listener_, 0);
        platform::SocketAddressV4 local;
        platform::SocketLocalName(listener_, &local);
        port_ = local.port;
        for (auto& filler : fillers_) {
            filler = std::make_unique<TStreamSocket>();
            filler->Host = "127.0.0.1";
            filler->Port = port_;
            filler->TimeOut = 100;
            try {
                filler->Connect();
            } catch (const ESockError&) {
                // Once the queue is full the attempts go unanswered, as intended.
            }
        }
    }
    ~UnansweringHost() { platform::SocketClose(listener_); }
    UnansweringHost(const UnansweringHost&) = delete;
    UnansweringHost& operator=(const UnansweringHost&) = delete;
    std::uint16_t Port() const { return port_; }

private:
    platform::SocketHandle listener_;
    std::uint16_t port_ = 0;
    std::unique_ptr<TStreamSocket> fillers_[4];
};

TEST_F(ApplyBoundsTest, HostThatDoesNotAnswerTheConnectionEndsTheRunWithinTheBound) {
    const UnansweringHost unanswering;
    StandardDescriptor();
    LoadWithTestBound();
    const std::string ip = "127.0.0.1:" + std::to_string(unanswering.Port());
    ui.fields[ApplyField::SystemEdt] = ip;
    ui.fields[ApplyField::UserIdEdt] = "QSECOFR";
    ui.fields[ApplyField::PassEdt] = "pw";
    Apply();

    EXPECT_THAT(reports,
                ElementsAre("The AS/400 at " + ip + " did not answer within 300 milliseconds."));
    EXPECT_THAT(ui.log, ElementsAre(" ", "Connecting to: " + ip));
    EXPECT_THAT(busyChanges, ElementsAre(true, false));
}

TEST_F(ApplyBoundsTest, HostThatNeverGreetsEndsTheRunWithinTheBound) {
    StartHost({"--no-greeting"});
    StandardDescriptor();
    LoadWithTestBound();
    FillFields();
    Apply();

    EXPECT_THAT(reports, ElementsAre("The AS/400 at " + ui.fields[ApplyField::SystemEdt] +
                                     " did not answer within 300 milliseconds."));
    EXPECT_THAT(ui.log, ElementsAre(" ", "Connecting to: " + ui.fields[ApplyField::SystemEdt]));
    EXPECT_FALSE(ftp->Connected);

    // The next run starts afresh on the same client.
    StartHost();
    FillFields();
    reports.clear();
    Apply();
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
}

TEST_F(ApplyBoundsTest, StalledTransferEndsTheRunWithinTheBound) {
    // Far more than the socket buffers of a loopback connection hold.
    WriteFile(Package("W_CHKLCKSF.SVF"), std::string(40 << 20, 'x'));
    test_support::ScriptedFtpPeer peer;
    ScriptUpToFirstUpload(peer);
    peer.Expect().Send("150 sending\r\n").ConnectToPort().AwaitSignal();
    peer.Start();
    StandardDescriptor();
    LoadWithTestBound();
    FillFieldsFor(peer);
    Apply();
    peer.Signal();
    peer.Finish();

    EXPECT_THAT(reports, ElementsAre("The transfer of " + Package("W_CHKLCKSF.SVF").string() +
                                     " made no progress for 300 milliseconds."));
    EXPECT_EQ(ui.log.back(), "Transferring lock check...");
}

TEST_F(ApplyBoundsTest, StopDuringAStalledTransferEndsTheRun) {
    WriteFile(Package("W_CHKLCKSF.SVF"), std::string(40 << 20, 'x'));
    test_support::ScriptedFtpPeer peer;
    ScriptUpToFirstUpload(peer);
    peer.Expect().Send("150 sending\r\n").ConnectToPort().AwaitSignal();
    peer.Start();
    StandardDescriptor();
    Load(); // the default bound: the Stop comes first
    FillFieldsFor(peer);
    StopAfterLine("Transferring lock check...");
    Apply();
    peer.Signal();
    peer.Finish();

    EXPECT_THAT(reports, ElementsAre("The Apply Update process was stopped by the operator."));
    EXPECT_EQ(ui.log.back(), "The Apply Update process was stopped by the operator.");
    EXPECT_THAT(peer.Commands(), Not(Contains("QUIT\r\n")));
}

TEST_F(ApplyBoundsTest, SlowRepliesOfAProgressingHostAreNotCutOff) {
    const Ms slow(kTestBoundMs * 3);
    test_support::ScriptedFtpPeer peer;
    ScriptUpToFirstUpload(peer);
    peer.Expect()
        .Pause(slow) // the STOR reply
        .Send("150 sending\r\n")
        .ConnectToPort()
        .ReceiveData()
        .CloseData()
        .Pause(slow) // the reply after the data
        .Send("250 stored\r\n")
        .Reply("250 restored\r\n")
        .Reply("250 exists\r\n")
        .Reply("250 cleared\r\n")
        .Reply("200 PORT ok\r\n")
        .Expect()
        .Send("150 sending\r\n")
        .ConnectToPort()
        .ReceiveData()
        .CloseData()
        .Send("250 stored\r\n")
        .Expect()
        .Pause(slow) // the install command
        .Send("250 installed\r\n")
        .Reply("221 bye\r\n");
    peer.Start();
    Descriptor("Update=MYUPD\r\nFilename=MYUPD.SVF\r\n");
    LoadWithTestBound();
    FillFieldsFor(peer);
    Apply();
    EXPECT_TRUE(peer.Finish()) << peer.Error();

    EXPECT_THAT(reports, IsEmpty());
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
    EXPECT_EQ(peer.ReceivedData(), LockCheckBytes() + UpdateBytes());
}

TEST_F(ApplyBoundsTest, StopDuringASilentHostEndsTheRunAndSaysSo) {
    StartHost({"--silent-on", "CHGJOB"});
    StandardDescriptor();
    Load(); // the default bound: only the Stop can end this wait
    FillFields();
    StopAfterLine("Changing job to log errors");
    Apply();

    EXPECT_THAT(ui.log,
                ElementsAre(" ", "Connecting to: " + ui.fields[ApplyField::SystemEdt], " ",
                            "Setting FTP mode to binary", " ",
                            "Changing current directory to KDXSUPPT", "Changing job to log errors",
                            " ", "The Apply Update process was stopped by the operator."));
    EXPECT_THAT(reports, ElementsAre("The Apply Update process was stopped by the operator."));
    // Closed without waiting for a QUIT reply that would never come.
    EXPECT_THAT(host->Commands(), Not(Contains("QUIT")));
    EXPECT_FALSE(ftp->Connected);
    EXPECT_THAT(busyChanges, ElementsAre(true, false));
    EXPECT_TRUE(std::filesystem::exists(settings_ / "KDXInst.Ini"));
    EXPECT_THAT(ui.errorDialogs, IsEmpty());
}

TEST_F(ApplyBoundsTest, StopIsNeverTakenForALockedObjectOrAFailedInstall) {
    StartHost({"--silent-on", "call PGM"});
    StandardDescriptor();
    Load();
    FillFields();
    StopAfterLine("Checking for locks on object: APPLIB/ORDERS");
    Apply();
    EXPECT_THAT(ui.log, Not(Contains(HasSubstr("is locked"))));
    EXPECT_THAT(reports, ElementsAre("The Apply Update process was stopped by the operator."));
    EXPECT_THAT(ui.errorDialogs, IsEmpty());

    StartHost({"--silent-on", "zlclupd"});
    FillFields();
    reports.clear();
    StopAfterLine("Installing update.");
    Apply();
    EXPECT_THAT(ui.log, Not(Contains(HasSubstr("may have failed"))));
    EXPECT_THAT(reports, ElementsAre("The Apply Update process was stopped by the operator."));
    EXPECT_THAT(ui.errorDialogs, IsEmpty());
}

TEST_F(ApplyBoundsTest, StopWhileTheHostNeverGreetsEndsTheLogOnAndItsCleanUp) {
    StartHost({"--no-greeting"});
    StandardDescriptor();
    Load();
    FillFields();
    StopAfterLine("Connecting to: " + ui.fields[ApplyField::SystemEdt]);
    Apply();
    EXPECT_THAT(reports, ElementsAre("The Apply Update process was stopped by the operator."));
    EXPECT_EQ(ui.log.back(), "The Apply Update process was stopped by the operator.");
}

TEST_F(ApplyBoundsTest, LogOffFromASilentHostIsBoundedAndAnotherPressMeanwhileIsIgnored) {
    StartHost({"--silent-on", "QUIT"});
    StandardDescriptor();
    LoadWithTestBound();
    FillFields();
    std::unique_ptr<OneShot> secondPress;
    ui.onLine = [&](const std::string& line) {
        if (line == "The Apply Update process is complete.")
            secondPress = std::make_unique<OneShot>(50, [this] { Press(); });
    };
    Apply();

    EXPECT_THAT(reports, ElementsAre("The AS/400 did not answer QUIT within 300 milliseconds; the "
                                     "connection was closed."));
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
    EXPECT_EQ(std::count(ui.calls.begin(), ui.calls.end(), "busy cursor"), 1);
    const std::vector<std::string> commands = host->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), 1);
    EXPECT_FALSE(ftp->Connected);
    EXPECT_TRUE(std::filesystem::exists(settings_ / "KDXInst.Ini"));
}

TEST_F(ApplyBoundsTest, StopOutsideARunDoesNothing) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    procedure->Stop();
    EXPECT_FALSE(procedure->Busy());
    Apply();
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_EQ(ui.log.back(), "The Apply Update process is complete.");
}

} // namespace
