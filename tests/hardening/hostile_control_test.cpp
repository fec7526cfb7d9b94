// The control connection against a hostile server: closes and resets in the middle of a
// reply, enormous and endless replies, any byte value, a reply that trickles in, and a
// server that greets and then says nothing. In every case the client either reads the
// reply whole or fails with a message; it never takes a broken reply for a success and
// never stays "connected" to a conversation that is over.
#include "tests/hardening/hostile_client.h"

#include "platform/exception.h"
#include "tests/support/loopback_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace {

using test_support::HostileClient;
using test_support::MessageOf;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// The bytes of a literal, NULs included.
template <std::size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

long CountStartingWith(const Lines& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// --- the server closes the control connection ---

TEST_F(HostileClient, CloseInTheMiddleOfTheGreetingLineFailsTheLogOn) {
    peer.Send("220 Hostile ser").Close();
    peer.Start();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Connect(); }), "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Connect"), 0);
    EXPECT_EQ(CountStartingWith(statuses, "220"), 0) << "a cut-off line was taken as a reply";
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, CloseBetweenTheLinesOfAMultiLineGreetingFailsTheLogOn) {
    peer.Send("220-Hostile server\r\n220-second line\r\n").Close();
    peer.Start();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Connect(); }), "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(peer.Commands().empty()) << "the client sent USER on half a greeting";
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, CloseInTheMiddleOfACommandReplyIsNoSuccess) {
    ScriptLogOn().Expect().Send("200 Comm").Close();
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.DoCommand("rcmd CHGJOB"); }),
              "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(events.empty()) << "OnSuccess fired for a reply that never arrived";
    // Nothing more can be sent over a conversation that is over.
    EXPECT_EQ(MessageOf<platform::Exception>([&] { ftp.DoCommand("NOOP"); }), "Not Connected");
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, CloseBetweenTheLinesOfAMultiLineCommandReplyIsNoSuccess) {
    ScriptLogOn().Expect().Send("250-first\r\n250-second\r\n").Close();
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.DoCommand("CWD KDXSUPPT"); }),
              "Connection closed by server");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, ResetInTheMiddleOfAReplyFailsWithAMessageAndLeavesNoConnection) {
    ScriptLogOn().Expect().Send("200 Comm").ResetControl();
    StartAndLogOn();
    std::string message;
    try {
        ftp.DoCommand("NOOP");
    } catch (const ESockError& error) {
        message = error.Message();
    }
    // Which of the two the client sees depends on when the reset arrives; both are honest.
    EXPECT_TRUE(message == "Connection closed by server" || message == "Connection reset by peer")
        << message;
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(ftp.Connected) << "still 'connected' after the server reset the connection";
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, AcceptThenCloseAtOnceEndsTheConnectionAttempt) {
    // A server that accepts and drops the connection straight away (an overloaded host, a
    // port forward with nothing behind it). When the connection and its end are noticed
    // in the same pass of the event pump, the client must not keep waiting for a
    // connection that came and went.
    std::uint16_t port = 0;
    const int listener = test_support::ListenLoopback(port);
    TStreamSocket socket;
    socket.Host = "127.0.0.1";
    socket.Port = port;
    socket.ReportLevel = 8;
    bool held = false;
    socket.OnStatus = [&](TComponent*, const std::string& status) {
        // Just after the connect call: let the whole short life of the connection happen
        // before the client looks at its notifications.
        if (status != "Timer On" || held)
            return;
        held = true;
        pollfd incoming{listener, POLLIN, 0};
        ASSERT_EQ(::poll(&incoming, 1, 20000), 1) << "the client did not connect";
        const int accepted = ::accept(listener, nullptr, nullptr);
        ::shutdown(accepted, SHUT_WR);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::close(accepted);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    TThreadTimer guard;
    guard.SetEnabled(false);
    guard.SetInterval(30000); // far beyond the few milliseconds a sound connect takes
    bool cancelled = false;
    guard.SetOnTimer([&](TObject*) {
        cancelled = true;
        socket.Cancel();
    });
    guard.SetEnabled(true);
    try {
        socket.Connect();
        // Connected, and already closed by the server: reading says so.
        EXPECT_EQ(socket.ReadLn(), "");
    } catch (const ESockError& error) {
        ADD_FAILURE() << error.Message();
    }
    guard.SetEnabled(false);
    ::close(listener);
    EXPECT_TRUE(held);
    EXPECT_FALSE(cancelled) << "Connect kept waiting for a connection that had ended";
    EXPECT_FALSE(socket.Connected);
}

TEST_F(HostileClient, CloseInsteadOfAnsweringQuitIsANormalEnd) {
    ScriptLogOn().Expect().Close();
    StartAndLogOn();
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(CommandsAfterLogOn(), (Lines{"QUIT\r\n"}));
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

// --- replies too large, too long, too strange ---

TEST_F(HostileClient, ReplyLineOf100000BytesIsRefusedAndNeverPairedWithTheNextCommand) {
    const std::string huge = "200 " + std::string(100000 - 6, 'x') + "\r\n";
    ScriptLogOn().Reply(huge).Reply("550 Refused\r\n").Reply("200 fine\r\n");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.DoCommand("rcmd first"); }), "Line too long");
    // The command after it must get its own reply (or none), never the rest of the
    // monster line: the rest would read as reply number 0, a success.
    std::string second;
    try {
        ftp.DoCommand("rcmd second");
        second = "success";
    } catch (const platform::Exception& error) {
        second = error.Message();
    }
    EXPECT_NE(second, "success") << "a refused command was reported as a success";
    EXPECT_EQ(std::count(events.begin(), events.end(), "Success:14"), 0);
}

// After "Line too long" the tail of the refused line would be read as the next command's
// reply (number 0, a success); the client ends the conversation instead.
TEST_F(HostileClient, TheRestOfARefusedLongLineIsNeverTakenForTheNextReply) {
    // Long enough that after the 64 KiB the reading refused and the 64 KiB of stale input
    // the next command throws away, a short tail with a line end is still waiting: read
    // as the next command's reply it would have no number, which counts as a success.
    const std::string huge = "550 " + std::string(2 * 65536 + 100 - 6, 'x') + "\r\n";
    ScriptLogOn().Reply(huge).Reply("550 Refused\r\n").AwaitClientClose();
    StartAndLogOn();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.DoCommand("rcmd first"); }), "Line too long");
    std::string second = "success";
    try {
        ftp.DoCommand("rcmd second");
    } catch (const platform::Exception& error) {
        second = error.Message();
    }
    EXPECT_NE(second, "success") << "the refused command was reported as a success";
    EXPECT_EQ(std::count(events.begin(), events.end(), "Success:14"), 0);
}

TEST_F(HostileClient, GreetingLineOf100000BytesFailsTheLogOnCleanly) {
    peer.Send("220 " + std::string(100000, 'g') + "\r\n");
    peer.Start();
    EXPECT_EQ(MessageOf<ESockError>([&] { ftp.Connect(); }), "Line too long");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Connect"), 0);
    // Nothing was sent on a greeting that could not be read: the rest of it would have been
    // taken for the reply to anything sent after it, so the connection was simply closed.
    EXPECT_TRUE(peer.Finish()) << peer.Error();
    EXPECT_EQ(peer.Commands(), Lines{});
}

TEST_F(HostileClient, MultiLineReplyOf10000LinesIsReadWholeAndTheNextReplyPairsUp) {
    std::string greeting = "220-Welcome\r\n";
    for (int i = 1; i < 9999; ++i)
        greeting += (i % 2 ? " line " : "220-line ") + std::to_string(i) + "\r\n";
    greeting += "220 end of greeting\r\n";
    std::string reply = "250-start\r\n";
    for (int i = 1; i < 9999; ++i)
        reply += "250-more " + std::to_string(i) + "\r\n";
    reply += "250 done\r\n";
    peer.Send(greeting)
        .Reply("331 Password required\r\n")
        .Reply("230 Logged on\r\n")
        .Reply(reply)
        .Reply("550 Not this one\r\n");
    peer.Start();
    ftp.Connect();
    ASSERT_TRUE(ftp.Connected);
    EXPECT_EQ(CountStartingWith(statuses, "220 end of greeting"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Connect"), 1);
    statuses.clear();
    ftp.ChangeDir("KDXSUPPT");
    EXPECT_EQ(ftp.ReplyNumber, 250);
    EXPECT_EQ(CountStartingWith(statuses, "250"), 10000);
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("rcmd x"); }), "550 Not this one\r\n");
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, NulAndHighBytesInRepliesArriveUnchanged) {
    const std::string firstLine = Bytes("220-\0\xff\x80 hello\r\n");
    const std::string refusal = Bytes("550 \0bad \xff\xfe\x80 name\r\n");
    peer.Send(firstLine + Bytes("220 ready \xe9\r\n"))
        .Reply("331 Password required\r\n")
        .Reply(Bytes("230 \0\0\0\r\n"))
        .Reply(refusal)
        .Reply(Bytes("200 \x7f\x80\x81\r\n"));
    peer.Start();
    ftp.Connect();
    ASSERT_TRUE(ftp.Connected);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), firstLine), 1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), Bytes("220 ready \xe9\r\n")), 1);
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("rcmd x"); }), refusal);
    ftp.DoCommand("rcmd y");
    EXPECT_EQ(ftp.ReplyNumber, 200);
    EXPECT_EQ(ftp.TransactionReply, Bytes("200 \x7f\x80\x81\r\n"));
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, ReplyWithoutACodeIsAnInvalidReplyAndNothingAfterItIsRead) {
    // Such a line used to give reply number 0, which the reply rule counts as success.
    ScriptLogOn()
        .Reply(Bytes("\0"
                     "550 hidden\r\n"))
        .AwaitClientClose();
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("rcmd x"); }),
              Bytes("Invalid reply from server: \0"
                    "550 hidden"));
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(MessageOf<platform::Exception>([&] { ftp.DoCommand("NOOP"); }), "Not Connected");
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileClient, TextLinesInsideAMultiLineReplyNeverEndItEarly) {
    // Host message texts between the first and the last line; under the older rule the
    // reply ended at the first of them and every later reply was one command late.
    ScriptLogOn()
        .Expect()
        .SendSplit({"550-Errors occurred:\r\n"
                    "CPF9801 Object W_CHKLCK in library KDXSUPPT not found.\r\n",
                    " indented 200 text\r\n"
                    "200 another code is text too\r\n"
                    "550 Errors occurred on command.\r\n"},
                   100ms)
        .Reply("200 NOOP ok\r\n");
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("rcmd x"); }),
              "550-Errors occurred:\r\n");
    ftp.DoCommand("NOOP");
    EXPECT_EQ(ftp.TransactionReply, "200 NOOP ok\r\n");
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

struct Flood {
    int lines;
    std::size_t lineLength;
};

void PrintTo(const Flood& c, std::ostream* os) {
    *os << c.lines << " lines of " << c.lineLength << " bytes";
}

class HostileFlood : public HostileClient, public testing::WithParamInterface<Flood> {};

TEST_P(HostileFlood, MultiLineReplyBeyondTheBoundIsAnInvalidReply) {
    std::string reply = "250-start\r\n";
    for (int i = 2; i < GetParam().lines; ++i)
        reply += "250-" + std::string(GetParam().lineLength - 6, 'x') + "\r\n";
    reply += "250 done\r\n";
    ScriptLogOn().Reply(reply).AwaitClientClose();
    StartAndLogOn();
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("rcmd x"); }),
              "Invalid reply from server: 250-start");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

// One line more than 10,000; and more than 1 MiB in 200 lines.
INSTANTIATE_TEST_SUITE_P(LinesAndBytes, HostileFlood,
                         testing::Values(Flood{10001, 12}, Flood{200, 6000}));

TEST_F(HostileClient, ReplySentOneByteEvery50MillisecondsIsReadAsOneLine) {
    peer.SendByteByByte("220-slow\r\n220 server\r\n", 50ms)
        .Expect()
        .SendByteByByte("331 pw?\r\n", 50ms)
        .Expect()
        .SendByteByByte("230 in\r\n", 50ms)
        .Expect()
        .SendByteByByte("550 no\r\n", 50ms);
    peer.Start();
    ftp.Connect();
    ASSERT_TRUE(ftp.Connected);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "220-slow\r\n"), 1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "220 server\r\n"), 1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "230 in\r\n"), 1);
    EXPECT_EQ(MessageOf<FTPException>([&] { ftp.DoCommand("rcmd x"); }), "550 no\r\n");
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

// --- a server that stops talking ---

// Stands in for the operator's Stop (or the installer's bound): cancels every wait of the
// client from `afterMs` on, repeatedly, as the log-on's clean-up waits again for QUIT.
class Canceller {
public:
    Canceller(TFtpClient& ftp, int afterMs) : ftp_(ftp) {
        timer_.SetEnabled(false);
        timer_.SetInterval(static_cast<std::uint32_t>(afterMs));
        timer_.SetOnTimer([this](TObject*) {
            ++fired_;
            timer_.SetInterval(20);
            ftp_.Cancel();
            ftp_.Abort();
        });
        timer_.SetEnabled(true);
    }
    ~Canceller() { timer_.SetEnabled(false); }
    int Fired() const { return fired_; }

private:
    TFtpClient& ftp_;
    TThreadTimer timer_;
    int fired_ = 0;
};

TEST_F(HostileClient, GreetingThenSilenceEndsOnlyByACancelAndLeavesNoConnection) {
    peer.Send("220 Hostile server ready\r\n").AwaitClientClose();
    peer.Start();
    std::string message;
    {
        Canceller cancel(ftp, 300);
        message = MessageOf<EAbortError>([&] { ftp.Connect(); });
        EXPECT_GE(cancel.Fired(), 1);
    }
    EXPECT_EQ(message, "Socket readln aborted");
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Connect"), 0);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
    const Lines commands = peer.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "USER bob\r\n");
}

} // namespace
