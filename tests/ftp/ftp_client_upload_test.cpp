// Upload against the scripted peer: PORT and PASV, the failure rule and its boundaries,
// the events, the final reply, cancellation, and what an upload leaves behind.
#include "tests/ftp/scripted_client.h"

#include "platform/exception.h"
#include "tests/support/temporary_directory.h"

#include <fstream>

namespace {

using test_support::MessageOf;
using test_support::ScriptedClient;
using Lines = std::vector<std::string>;

class ScriptedUpload : public ScriptedClient {
protected:
    void SetUp() override {
        ScriptedClient::SetUp();
        ScriptLogOn();
        ftp.OnFailure = nullptr;
        ftp.OnTransactionStart = [this](TObject* sender) {
            EXPECT_EQ(sender, &ftp);
            events.push_back("Start:" + std::to_string(ftp.BytesTotal));
        };
        ftp.OnTransactionStop = [this](TObject*) {
            events.push_back("Stop:" + std::to_string(ftp.FDataConnection->BytesSent));
        };
    }

    std::string WriteFile(const std::string& name, const std::string& content) {
        const auto path = directory.Path() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    // Leaves only the failure events of interest.
    void RecordFailures() {
        ftp.OnUnSupportedFunction = [this](TCmdType type) {
            events.push_back("Unsupported:" + std::to_string(type));
        };
        ftp.OnFailure = [this](bool&, TCmdType type) {
            events.push_back("Failure:" + std::to_string(type));
        };
    }

    void ExpectNothingLeftBehind() {
        EXPECT_EQ(ftp.FDataConnection, nullptr);
        EXPECT_TRUE(TransferLockIsFree());
        EXPECT_TRUE(ftp.Connected);
    }

    // An upload given up after the server accepted STOR: the server's final reply is still
    // to come, so the control connection is closed rather than left to hand that reply to
    // the next command.
    void ExpectClosedWithNothingLeftBehind() {
        EXPECT_EQ(ftp.FDataConnection, nullptr);
        EXPECT_TRUE(TransferLockIsFree());
        EXPECT_FALSE(ftp.Connected);
        EXPECT_FALSE(ftp.ConnectionLost());
    }

    test_support::TemporaryDirectory directory;
    const std::string content = "save file bytes\r\n\0with a NUL" + std::string(70000, 'x');
};

TEST_F(ScriptedUpload, ActiveModeAnnouncesOwnAddressThenStoresAndAcceptsAfterTheReply) {
    peer.Reply("200 PORT ok\r\n")
        .Reply("150 Opening data connection\r\n")
        .ConnectToPort()
        .ReceiveData()
        .Send("226 Transfer complete\r\n")
        .Reply("200 after\r\n");
    const auto file = WriteFile("local.svf", content);
    int packets = 0;
    ftp.OnPacketSent = [&](TObject* sender) {
        EXPECT_EQ(sender, ftp.FDataConnection.get());
        ++packets;
    };
    StartAndLogOn();
    ftp.Upload(file, "REMOTE.SVF");
    ExpectNothingLeftBehind();
    ftp.DoCommand("NOOP");
    FinishPeer();

    const auto commands = CommandsAfterLogOn();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].rfind("PORT 127,0,0,1,", 0), 0u) << commands[0];
    EXPECT_EQ(commands[1], "STOR REMOTE.SVF\r\n");
    EXPECT_EQ(peer.ReceivedData(), content);
    EXPECT_GE(packets, 2);
    const std::string size = std::to_string(content.size());
    EXPECT_EQ(events, (Lines{"Start:" + size, "Stop:" + size, "Success:9", "Success:14"}));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "STOR REMOTE.SVF"), 1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "226 Transfer complete\r\n"), 1);
}

TEST_F(ScriptedUpload, PassiveModeConnectsToHostWhateverTheReplyNamesBeforeStor) {
    // 10.9.8.7 is not this machine: the client must ignore it and use Host.
    peer.Expect()
        .ListenPassive()
        .Send("227 Entering Passive Mode (10,9,8,7,{H},{L})\r\n")
        .AcceptPassive()
        .Reply("150 go\r\n")
        .ReceiveData()
        .Send("226 done\r\n");
    const auto file = WriteFile("p.svf", content);
    ftp.Passive = true;
    StartAndLogOn();
    ftp.Upload(file, "P.SVF");
    ExpectNothingLeftBehind();
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), (Lines{"PASV\r\n", "STOR P.SVF\r\n"}));
    EXPECT_EQ(peer.ReceivedData(), content);
}

TEST_F(ScriptedUpload, PassiveReplyWithSpacesAndNumbered499IsParsed) {
    peer.Expect()
        .ListenPassive()
        .Send("499 odd (127, 0, 0, 1, {H}, {L})\r\n")
        .AcceptPassive()
        .Reply("125 go\r\n")
        .ReceiveData()
        .Send("250 done\r\n");
    const auto file = WriteFile("p.svf", "abc");
    ftp.Passive = true;
    StartAndLogOn();
    ftp.Upload(file, "P.SVF");
    FinishPeer();
    EXPECT_EQ(peer.ReceivedData(), "abc");
}

TEST_F(ScriptedUpload, PassiveReplyWithoutParenthesisFailsTheConversion) {
    peer.Reply("227 Entering Passive Mode (10,9,8,7,19,137\r\n").Reply("200 still here\r\n");
    const auto file = WriteFile("p.svf", "abc");
    ftp.Passive = true;
    StartAndLogOn();
    EXPECT_EQ(MessageOf<platform::EConvertError>([&] { ftp.Upload(file, "P.SVF"); }),
              "'' is not a valid integer value");
    ExpectNothingLeftBehind();
    ftp.DoCommand("NOOP");
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), (Lines{"PASV\r\n", "NOOP\r\n"}));
}

TEST_F(ScriptedUpload, PassiveAnswered500FailsAndSendsNoStor) {
    peer.Reply("500 PASV unknown\r\n").Reply("200 still here\r\n");
    const auto file = WriteFile("p.svf", "abc");
    ftp.Passive = true;
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "P.SVF"); }), "500 PASV unknown\r\n");
    ExpectNothingLeftBehind();
    ftp.DoCommand("NOOP");
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), (Lines{"PASV\r\n", "NOOP\r\n"}));
}

TEST_F(ScriptedUpload, PassiveOrPortAnswered502FiresOnlyFailure) {
    peer.Reply("502 no PASV\r\n").Reply("502 no PORT\r\n");
    const auto file = WriteFile("p.svf", "abc");
    StartAndLogOn();
    RecordFailures();
    ftp.Passive = true;
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "P.SVF"); }), "502 no PASV\r\n");
    ftp.Passive = false;
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "P.SVF"); }), "502 no PORT\r\n");
    // The failure rule, then the catch-all for the raised exception.
    EXPECT_EQ(events, (Lines{"Failure:9", "Failure:9", "Failure:9", "Failure:9"}));
    FinishPeer();
}

TEST_F(ScriptedUpload, PortAnswered300GoesOnAnd301Fails) {
    peer.Reply("300 odd\r\n")
        .Reply("150 go\r\n")
        .ConnectToPort()
        .ReceiveData()
        .Send("226 done\r\n")
        .Reply("301 odd\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    ftp.Upload(file, "A.SVF");
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "A.SVF"); }), "301 odd\r\n");
    ExpectNothingLeftBehind();
    FinishPeer();
    EXPECT_EQ(peer.ReceivedData(), "abc");
}

TEST_F(ScriptedUpload, StorAnswered300GoesOnAnd301Fails) {
    peer.Reply("200 ok\r\n")
        .Reply("300 odd\r\n")
        .ConnectToPort()
        .ReceiveData()
        .Send("226 done\r\n")
        .Reply("200 ok\r\n")
        .Reply("301 odd\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    ftp.Upload(file, "A.SVF");
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "A.SVF"); }), "301 odd\r\n");
    ExpectNothingLeftBehind();
    FinishPeer();
}

TEST_F(ScriptedUpload, StorAnswered502FiresUnsupportedThenFailureTwice) {
    peer.Reply("200 ok\r\n").Reply("502 STOR not implemented\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    RecordFailures();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "A.SVF"); }),
              "502 STOR not implemented\r\n");
    EXPECT_EQ(events, (Lines{"Unsupported:9", "Failure:9", "Failure:9"}));
    ExpectNothingLeftBehind();
    FinishPeer();
}

TEST_F(ScriptedUpload, StorAnswered550WithoutHandlersLeavesTheControlConnectionUsable) {
    peer.Reply("200 ok\r\n").Reply("550 Permission denied\r\n").Reply("257 \"/\"\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "A.SVF"); }),
              "550 Permission denied\r\n");
    ExpectNothingLeftBehind();
    ftp.DoCommand("PWD");
    EXPECT_EQ(events, Lines{"Success:15"});
    FinishPeer();
}

TEST_F(ScriptedUpload, StorAnswered550AndHandledReturnsWithoutSuccess) {
    peer.Reply("200 ok\r\n").Reply("550 Permission denied\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    ftp.OnFailure = [&](bool& handled, TCmdType type) {
        events.push_back("Failure:" + std::to_string(type));
        handled = true;
    };
    EXPECT_NO_THROW(ftp.Upload(file, "A.SVF"));
    EXPECT_EQ(events, Lines{"Failure:9"});
    ExpectNothingLeftBehind();
    FinishPeer();
}

TEST_F(ScriptedUpload, FinalReplyOfFailureFailsTheUpload) {
    peer.Reply("200 ok\r\n")
        .Reply("150 go\r\n")
        .ConnectToPort()
        .ReceiveData()
        .Send("452 Insufficient storage\r\n")
        .Reply("200 ok\r\n")
        .Reply("150 go\r\n")
        .ConnectToPort()
        .ReceiveData()
        .Send("552 Exceeded storage allocation\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "A.SVF"); }),
              "452 Insufficient storage\r\n");
    ExpectNothingLeftBehind();
    // Handled by OnFailure: a quiet end, still no success.
    int failures = 0;
    ftp.OnFailure = [&](bool& handled, TCmdType) {
        ++failures;
        handled = true;
    };
    events.clear();
    EXPECT_NO_THROW(ftp.Upload(file, "A.SVF"));
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Success:9"), 0);
    FinishPeer();
}

TEST_F(ScriptedUpload, FinalReplyInSegmentsAndMultiLineIsReadWhole) {
    peer.Reply("200 ok\r\n")
        .Reply("150 go\r\n")
        .ConnectToPort()
        .ReceiveData()
        .SendSplit({"226-Transfer", " complete\r\n", "226 bytes stored\r\n"})
        .Reply("200 next\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    ftp.Upload(file, "A.SVF");
    EXPECT_EQ(ftp.Transaction("NOOP"), "200 next\r\n");
    FinishPeer();
}

TEST_F(ScriptedUpload, ServerClosingBeforeTheFinalReplyFails) {
    peer.Reply("200 ok\r\n").Reply("150 go\r\n").ConnectToPort().ReceiveData().Close();
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Upload(file, "A.SVF"); }),
              "Connection closed by server");
    EXPECT_EQ(ftp.FDataConnection, nullptr);
    EXPECT_TRUE(TransferLockIsFree());
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
}

TEST_F(ScriptedUpload, ServerClosingInsteadOfStorReplyFails) {
    peer.Reply("200 ok\r\n").Expect().Close();
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Upload(file, "A.SVF"); }),
              "Connection closed by server");
    EXPECT_EQ(ftp.FDataConnection, nullptr);
    FinishPeer();
}

TEST_F(ScriptedUpload, EmptyRemoteNameStoresTheFileNamePartAndReportsThePath) {
    peer.Reply("200 ok\r\n").Reply("150 go\r\n").ConnectToPort().ReceiveData().Send("226 done\r\n");
    std::filesystem::create_directory(directory.Path() / "pkg");
    const auto file = WriteFile("pkg/W_CHKLCKSF.SVF", "");
    StartAndLogOn();
    ftp.Upload(file, "");
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn().at(1), "STOR W_CHKLCKSF.SVF\r\n");
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "STOR " + file), 1);
    // A zero-length file: the data connection was opened and closed, nothing sent.
    EXPECT_TRUE(peer.DataConnectionMade());
    EXPECT_EQ(peer.ReceivedData(), "");
    EXPECT_EQ(events, (Lines{"Start:0", "Stop:0", "Success:9"}));
}

TEST_F(ScriptedUpload, MissingLocalFileFailsBeforeAnyCommand) {
    peer.Reply("200 still here\r\n");
    const auto missing = (directory.Path() / "nope.svf").string();
    StartAndLogOn();
    RecordFailures();
    EXPECT_EQ(MessageOf<platform::EFOpenError>([&] { ftp.Upload(missing, ""); }),
              "Cannot open file " + missing);
    EXPECT_EQ(events, Lines{"Failure:9"});
    ExpectNothingLeftBehind();
    ftp.DoCommand("NOOP");
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), Lines{"NOOP\r\n"});
}

TEST_F(ScriptedUpload, UploadWithoutConnectionRaisesNotConnected) {
    const auto file = WriteFile("a.svf", "abc");
    peer.Start();
    EXPECT_EQ(MessageOf<platform::Exception>([&] { ftp.Upload(file, "A"); }), "Not Connected");
    EXPECT_EQ(ftp.FDataConnection, nullptr);
}

TEST_F(ScriptedUpload, StorNameWithLineBreakIsRefused) {
    peer.Reply("200 ok\r\n").Reply("200 still here\r\n");
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Upload(file, "A\r\nDELE B"); }),
              "Invalid character in command");
    ExpectNothingLeftBehind();
    ftp.DoCommand("NOOP");
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn().size(), 2u); // PORT, NOOP
}

TEST_F(ScriptedUpload, PeerThatNeverConnectsBackLeavesAcceptToACancel) {
    peer.Reply("200 ok\r\n").Reply("150 go\r\n").AwaitSignal();
    const auto file = WriteFile("a.svf", "abc");
    StartAndLogOn();
    TThreadTimer operatorCancel;
    operatorCancel.SetEnabled(false);
    operatorCancel.SetInterval(100);
    operatorCancel.SetOnTimer([&](TObject*) {
        operatorCancel.SetEnabled(false);
        ftp.Abort();
    });
    operatorCancel.SetEnabled(true);
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Upload(file, "A.SVF"); }), "Accepting Canceled");
    EXPECT_EQ(ftp.FDataConnection, nullptr);
    EXPECT_TRUE(TransferLockIsFree());
    peer.Signal();
    FinishPeer();
    EXPECT_FALSE(peer.DataConnectionMade());
}

TEST_F(ScriptedUpload, CancelBeforeSendingRaisesInsteadOfReportingSuccess) {
    peer.Expect()
        .ListenPassive()
        .Send("227 (127,0,0,1,{H},{L})\r\n")
        .AcceptPassive()
        // Both replies in one write: the client may have closed the connection (with a
        // reset) before a second write could go out.
        .Reply("150 go\r\n226 stored, but empty\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("a.svf", content);
    ftp.Passive = true;
    StartAndLogOn();
    ftp.OnTransactionStart = [&](TObject*) { ftp.Cancel(); };
    EXPECT_EQ(MessageOf<EAbortError>([&] { ftp.Upload(file, "A.SVF"); }), "Socket send aborted");
    EXPECT_EQ(std::count(events.begin(), events.end(), "Success:9"), 0);
    ExpectClosedWithNothingLeftBehind();
    FinishPeer();
}

TEST_F(ScriptedUpload, TimeOutWhileAwaitingStorReplyRaisesInsteadOfReportingSuccess) {
    peer.Expect()
        .ListenPassive()
        .Send("227 (127,0,0,1,{H},{L})\r\n")
        .AcceptPassive()
        .Expect()
        .AwaitSignal() // the client's time-out has fired while it waits for this reply
        .Send("150 go\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("a.svf", content);
    ftp.Passive = true;
    StartAndLogOn();
    ftp.ReportLevel = 8;
    bool storSent = false;
    ftp.OnStatus = [&](TComponent*, const std::string& status) {
        if (status.rfind("STOR ", 0) == 0)
            storSent = true;
        if (storSent && status == "Timer Triggered")
            peer.Signal();
    };
    ftp.TimeOut = 1000; // only the STOR reply, held back by the peer, outlasts it
    EXPECT_EQ(MessageOf<EAbortError>([&] { ftp.Upload(file, "A.SVF"); }), "Socket send aborted");
    ftp.TimeOut = 0;
    ExpectClosedWithNothingLeftBehind();
    FinishPeer();
}

} // namespace
