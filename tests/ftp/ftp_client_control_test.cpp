// The control connection against the scripted peer: log-on variants, reply reading,
// commands with their success rule and events, log-off.
#include "tests/ftp/scripted_client.h"

#include "platform/exception.h"

#include <algorithm>
#include <memory>

namespace {

using test_support::MessageOf;
using test_support::ScriptedClient;
using Lines = std::vector<std::string>;

// --- log-on ---

TEST_F(ScriptedClient, LogOnSendsUserAndPassAndNeverReportsThePassword) {
    ScriptLogOn();
    peer.Reply("221 Goodbye\r\n");
    ftp.UserID = "bob";
    ftp.Password = "pw";
    peer.Start();
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected);
    EXPECT_EQ(events, Lines{"Connect"});
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob\r\n", "PASS pw\r\n", "QUIT\r\n"}));
    EXPECT_EQ(statuses, (Lines{"220 Service ready\r\n", "USER bob", "331 Password required\r\n",
                               "PASS ", "230 Logged on\r\n", "QUIT", "221 Goodbye\r\n"}));
}

TEST_F(ScriptedClient, ReportLevelZeroReportsNothing) {
    ScriptLogOn();
    peer.Reply("221 Goodbye\r\n");
    ftp.ReportLevel = 0;
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_TRUE(statuses.empty());
}

TEST_F(ScriptedClient, MultiLineGreetingInSegmentsIsReadToItsLastLine) {
    peer.SendSplit(
            {"22", "0-Welcome\r\n", " a line without a number\r\n220-more\r\n", "220 Ready\r\n"})
        .Reply("230 No password needed\r\n")
        .Reply("221 Goodbye\r\n");
    ftp.UserID = "bob";
    ftp.Password = "pw";
    peer.Start();
    ftp.Connect();
    EXPECT_EQ(ftp.ReplyNumber, 230);
    ftp.Disconnect();
    FinishPeer();
    // The USER reply was not mistaken for part of the greeting.
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob\r\n", "QUIT\r\n"}));
    EXPECT_EQ(Lines(statuses.begin(), statuses.begin() + 4),
              (Lines{"220-Welcome\r\n", " a line without a number\r\n", "220-more\r\n",
                     "220 Ready\r\n"}));
}

TEST_F(ScriptedClient, GreetingNumbered400IsAccepted) {
    peer.Send("400 odd but accepted\r\n").Reply("230 ok\r\n").Reply("221 bye\r\n");
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
}

TEST_F(ScriptedClient, GreetingNumbered401FailsAndCleansUp) {
    peer.Send("401 Not now\r\n").Reply("221 bye\r\n");
    ftp.UserID = "bob";
    ftp.Password = "pw";
    peer.Start();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Connect(); }), "401 Not now\r\n");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(events, Lines{"ConnectionFailed"});
    EXPECT_EQ(statuses, (Lines{"401 Not now\r\n", "QUIT", "221 bye\r\n", "Disconnected"}));
    FinishPeer();
    EXPECT_EQ(peer.Commands(), Lines{"QUIT\r\n"});
}

TEST_F(ScriptedClient, UserOrPassAnswered400IsNoFailure) {
    peer.Send("220 hi\r\n").Reply("400 whatever\r\n").Reply("221 bye\r\n");
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, PassAnswered400IsNoFailure) {
    peer.Send("220 hi\r\n").Reply("331 pass\r\n").Reply("400 whatever\r\n").Reply("221 bye\r\n");
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
}

TEST_F(ScriptedClient, PassAnswered530FailsTheLogOn) {
    peer.Send("220 hi\r\n")
        .Reply("331 pass\r\n")
        .Reply("530 Login incorrect\r\n")
        .Reply("221 bye\r\n");
    ftp.UserID = "bob";
    ftp.Password = "wrong";
    peer.Start();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Connect(); }), "530 Login incorrect\r\n");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(events, Lines{"ConnectionFailed"});
    EXPECT_EQ(statuses.back(), "Disconnected");
    FinishPeer();
}

TEST_F(ScriptedClient, UserAnswered230SendsNoPass) {
    peer.Send("220 hi\r\n").Reply("230 welcome\r\n").Reply("221 bye\r\n");
    ftp.UserID = "bob";
    ftp.Password = "pw";
    peer.Start();
    ftp.Connect();
    EXPECT_EQ(events, Lines{"Connect"});
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, AuthenticationNeededFillsInTheMissingCredentials) {
    ftp.UserID.clear();
    ftp.Password.clear();
    ScriptLogOn();
    peer.Reply("221 bye\r\n");
    int asked = 0;
    ftp.OnAuthenticationNeeded = [&](bool&) {
        ++asked;
        ftp.UserID = "bob";
        ftp.Password = "pw";
    };
    peer.Start();
    ftp.Connect();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob\r\n", "PASS pw\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, FirewallLogOnPrecedesTheServerLogOnAndHidesItsPassword) {
    peer.Send("220 fw\r\n").Reply("331 fw pass\r\n").Reply("230 fw ok\r\n");
    peer.Reply("331 pass\r\n").Reply("230 ok\r\n").Reply("221 bye\r\n");
    ftp.FWAuthenticate = true;
    ftp.FWUserID = "wall";
    ftp.FWPassword = "fwsecret";
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER wall\r\n", "PASS fwsecret\r\n", "USER bob\r\n",
                                      "PASS pw\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, ProxyUserFormIsTheOnlyUserCommandAndItsFailureIsAccepted) {
    peer.Send("220 proxy\r\n").Reply("530 proxy says no\r\n").Reply("221 bye\r\n");
    ftp.Proxy = "127.0.0.1";
    ftp.ProxyPort = peer.Port();
    ftp.Host = "as400.example";
    ftp.Port = 1; // not used with a proxy
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob@as400.example\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, ProxyUserFormAnswered331SendsThePassword) {
    peer.Send("220 proxy\r\n").Reply("331 pass\r\n").Reply("230 ok\r\n").Reply("221 bye\r\n");
    ftp.Proxy = "127.0.0.1";
    ftp.ProxyPort = peer.Port();
    ftp.Host = "as400.example";
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob@as400.example\r\n", "PASS pw\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, ProxySiteFormThenServerLogOn) {
    peer.Send("220 proxy\r\n").Reply("500 no SITE here\r\n");
    peer.Reply("331 pass\r\n").Reply("230 ok\r\n").Reply("221 bye\r\n");
    ftp.Proxy = "127.0.0.1";
    ftp.ProxyPort = peer.Port();
    ftp.Host = "as400.example";
    ftp.FirewallType = FtSite;
    StartAndLogOn();
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(peer.Commands(),
              (Lines{"SITE as400.example\r\n", "USER bob\r\n", "PASS pw\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, ConnectWhileConnectedSendsNothing) {
    ScriptLogOn();
    peer.Reply("221 bye\r\n");
    StartAndLogOn();
    ftp.Connect();
    EXPECT_TRUE(events.empty());
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), Lines{"QUIT\r\n"});
}

TEST_F(ScriptedClient, CredentialWithLineBreakIsRefusedBeforeItIsSent) {
    peer.Send("220 hi\r\n").Reply("221 bye\r\n");
    ftp.UserID = "bob\r\nDELE important";
    ftp.Password = "pw";
    peer.Start();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Connect(); }), "Invalid character in command");
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
    EXPECT_EQ(peer.Commands(), Lines{"QUIT\r\n"});
}

TEST_F(ScriptedClient, TimeOutDoesNotEndTheWaitForTheGreeting) {
    // The greeting comes only after the client's time-out has fired: the time-out reaches
    // Abort, which has no data connection to cancel, so the log-on goes on.
    peer.AwaitSignal().Send("220 late\r\n").Reply("230 ok\r\n").Reply("221 bye\r\n");
    ftp.ReportLevel = 8;
    ftp.OnStatus = [&](TComponent*, const std::string& status) {
        if (status == "Timer Triggered")
            peer.Signal();
    };
    ftp.TimeOut = 500; // long enough that only the greeting wait outlasts it
    ftp.UserID = "bob";
    ftp.Password = "pw";
    peer.Start();
    ftp.Connect();
    EXPECT_EQ(events, Lines{"Connect"});
    ftp.Abort();
    EXPECT_FALSE(ftp.FCanceled);
    ftp.Disconnect();
    FinishPeer();
}

TEST_F(ScriptedClient, DestroyingAConnectedClientSendsNoQuit) {
    ScriptLogOn();
    peer.AwaitClientClose();
    auto client = std::make_unique<TFtpClient>();
    client->Host = "127.0.0.1";
    client->Port = peer.Port();
    client->UserID = "bob";
    client->Password = "pw";
    peer.Start();
    client->Connect();
    client.reset();
    FinishPeer();
    EXPECT_EQ(peer.Commands(), (Lines{"USER bob\r\n", "PASS pw\r\n"}));
}

// --- the server closing while a reply is awaited ---

TEST_F(ScriptedClient, ServerClosingInsteadOfGreetingFails) {
    peer.Close();
    peer.Start();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Connect(); }), "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
}

TEST_F(ScriptedClient, ServerClosingMidLineFails) {
    peer.Send("220 Serv").Close();
    peer.Start();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Connect(); }), "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
}

TEST_F(ScriptedClient, ServerClosingInsideAMultiLineReplyFails) {
    ScriptLogOn();
    peer.Expect().Send("211-Status\r\n 211 mid").Close();
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.DoCommand("STAT"); }), "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(events.empty()); // neither success nor failure: the reply never came
    FinishPeer();
}

TEST_F(ScriptedClient, ServerClosingInsteadOfAnsweringQuitIsANormalEnd) {
    ScriptLogOn();
    peer.Expect().Close();
    StartAndLogOn();
    EXPECT_NO_THROW(ftp.Disconnect());
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
}

// --- log-off ---

TEST_F(ScriptedClient, QuitAnswered300EndsNormally) {
    ScriptLogOn();
    peer.Reply("300 odd\r\n");
    StartAndLogOn();
    EXPECT_NO_THROW(ftp.Disconnect());
    EXPECT_FALSE(ftp.Connected);
    FinishPeer();
}

TEST_F(ScriptedClient, QuitAnswered301RaisesAfterTheClose) {
    ScriptLogOn();
    peer.Reply("301 odd\r\n");
    StartAndLogOn();
    int disconnects = 0;
    ftp.OnDisconnect = [&](TObject*) { ++disconnects; };
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Disconnect(); }), "301 odd\r\n");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(disconnects, 1);
    FinishPeer();
}

TEST_F(ScriptedClient, RefusedQuitOfTheCleanUpReplacesTheLogOnFailure) {
    peer.Send("220 hi\r\n").Reply("530 no\r\n").Reply("500 QUIT what\r\n");
    ftp.UserID = "bob";
    ftp.Password = "pw";
    peer.Start();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.Connect(); }), "500 QUIT what\r\n");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Disconnected"), 0);
    FinishPeer();
}

TEST_F(ScriptedClient, DisconnectWithoutConnectionSendsNothing) {
    peer.Start();
    EXPECT_NO_THROW(ftp.Disconnect());
    EXPECT_TRUE(statuses.empty());
}

// --- commands ---

struct ReplyCase {
    std::string reply;
    bool fails;
    bool unsupported;
};

TEST_F(ScriptedClient, ReplyNumberDecidesSuccessAndUnsupportedFunction) {
    const std::vector<ReplyCase> cases = {
        {"125 Data connection open\r\n", false, false},
        {"350 Pending\r\n", false, false},
        {"399 Last success\r\n", false, false},
        {"400 First failure\r\n", true, false},
        {"421 Closing\r\n", true, false},
        {"499 Last 4xx\r\n", true, false},
        {"500 Unknown\r\n", true, true},
        {"501 Syntax\r\n", true, true},
        {"502 Not implemented\r\n", true, true},
        {"503 Bad sequence\r\n", true, false},
        {"599 Last failure\r\n", true, false},
        {"600 Beyond the range\r\n", false, false},
    };
    ScriptLogOn();
    for (const auto& c : cases)
        peer.Reply(c.reply);
    StartAndLogOn();
    ftp.OnUnSupportedFunction = [&](TCmdType type) {
        events.push_back("Unsupported:" + std::to_string(type));
    };
    ftp.OnFailure = [&](bool& handled, TCmdType type) {
        EXPECT_FALSE(handled);
        events.push_back("Failure:" + std::to_string(type));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        events.clear();
        EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("NOOP"); }), c.fails ? c.reply : "");
        Lines expected;
        if (c.unsupported)
            expected.push_back("Unsupported:14");
        expected.push_back(c.fails ? "Failure:14" : "Success:14");
        EXPECT_EQ(events, expected);
        EXPECT_TRUE(ftp.Connected);
    }
    FinishPeer();
}

TEST_F(ScriptedClient, FailureWithoutHandlersRaisesTheReplyLine) {
    ScriptLogOn();
    peer.Reply("550 No such file\r\n").Reply("200 still here\r\n");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("DELE x"); }), "550 No such file\r\n");
    // The connection stays open and logged on for the next command.
    EXPECT_NO_THROW(ftp.DoCommand("NOOP"));
    EXPECT_EQ(events, Lines{"Success:14"});
    FinishPeer();
}

TEST_F(ScriptedClient, HandledFailureReturnsNormallyWithoutSuccess) {
    ScriptLogOn();
    peer.Reply("550 No such object\r\n");
    StartAndLogOn();
    ftp.OnFailure = [&](bool& handled, TCmdType type) {
        events.push_back("Failure:" + std::to_string(type));
        handled = true;
    };
    EXPECT_NO_THROW(ftp.DoCommand("rcmd CHKOBJ OBJ(X)"));
    EXPECT_EQ(events, Lines{"Failure:14"});
    FinishPeer();
}

TEST_F(ScriptedClient, CommandTypesReachTheEvents) {
    ScriptLogOn();
    for (int i = 0; i < 8; ++i)
        peer.Reply("250 ok\r\n");
    StartAndLogOn();
    for (const char* command : {"PWD", "pwd", "PWD ", "CWD", "MKD d", "DELE f", "RMD d"})
        ftp.DoCommand(command);
    ftp.ChangeDir("");
    EXPECT_EQ(events, (Lines{"Success:15", "Success:14", "Success:14", "Success:0", "Success:1",
                             "Success:2", "Success:3", "Success:0"}));
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), (Lines{"PWD\r\n", "pwd\r\n", "PWD \r\n", "CWD\r\n", "MKD d\r\n",
                                           "DELE f\r\n", "RMD d\r\n", "CWD \r\n"}));
}

TEST_F(ScriptedClient, ModeSendsTheTypeCommandsAndNothingForOtherValues) {
    ScriptLogOn();
    peer.Reply("200 A\r\n").Reply("200 I\r\n").Reply("200 L\r\n").Reply("221 bye\r\n");
    StartAndLogOn();
    ftp.Mode(0);
    ftp.Mode(4);
    ftp.Mode(-1);
    EXPECT_TRUE(events.empty());
    ftp.Mode(1);
    ftp.Mode(2);
    ftp.Mode(3);
    ftp.Disconnect();
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(),
              (Lines{"TYPE A\r\n", "TYPE I\r\n", "TYPE L 8\r\n", "QUIT\r\n"}));
}

TEST_F(ScriptedClient, MultiLineReplyIsConsumedWholeAndReportsItsFirstLine) {
    ScriptLogOn();
    peer.Expect()
        .SendSplit({"230-First\r\n230-Sec", "ond\r\n", " 999 spaced continuation\r\n230 Last\r\n"})
        .Reply("200 next\r\n");
    StartAndLogOn();
    EXPECT_EQ(ftp.Transaction("SITE X"), "230-First\r\n");
    EXPECT_EQ(ftp.ReplyNumber, 230);
    EXPECT_EQ(statuses, (Lines{"230-First\r\n", "230-Second\r\n", " 999 spaced continuation\r\n",
                               "230 Last\r\n"}));
    EXPECT_EQ(ftp.Transaction("NOOP"), "200 next\r\n");
    FinishPeer();
}

TEST_F(ScriptedClient, CommandWithLineBreakIsRefusedAndNothingIsSent) {
    ScriptLogOn();
    peer.Reply("200 ok\r\n");
    StartAndLogOn();
    const Lines injected = {"NOOP\r\nDELE x", "CWD a\nb", "CWD a\rb", std::string("CWD a\0b", 7)};
    for (const auto& command : injected)
        EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand(command); }),
                  "Invalid character in command");
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.ChangeDir("x\r\nRMD /"); }),
              "Invalid character in command");
    ftp.DoCommand("NOOP");
    FinishPeer();
    EXPECT_EQ(CommandsAfterLogOn(), Lines{"NOOP\r\n"});
}

TEST_F(ScriptedClient, CommandWithoutConnectionOffersConnectionRequiredAndSendsNothing) {
    peer.Start();
    int offered = 0;
    ftp.OnConnectionRequired = [&](bool&) { ++offered; };
    EXPECT_EQ(MessageOf<platform::Exception>([&] { ftp.DoCommand("NOOP"); }), "Not Connected");
    EXPECT_EQ(MessageOf<platform::Exception>([&] { ftp.Mode(2); }), "Not Connected");
    EXPECT_EQ(offered, 2);
    EXPECT_TRUE(events.empty());
}

} // namespace
