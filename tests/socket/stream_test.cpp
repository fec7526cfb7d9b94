// Byte and line I/O against a scripted peer: lines in pieces and together, exact counts,
// cancel and time-out of the waits, files in blocks, clearing input.
#include "tests/socket/socket_peer.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using test_support::DelayedAction;
using test_support::Pause;
using test_support::Peer;
using test_support::PumpUntil;
using test_support::ReceiveExactly;
using test_support::ReceiveUntilClosed;
using test_support::SendAll;

struct Connection {
    explicit Connection(Peer& peer) {
        sock.Host = "127.0.0.1";
        sock.Port = peer.Port();
        sock.TimeOut = 10000; // bounds the connection wait; tests of reading set their own
        sock.Connect();
        sock.TimeOut = 0;
    }
    // The first socket of a component closes with a reset, dropping unsent data; a sender
    // turns lingering off first, as the FTP client does for its data connection.
    void CloseGracefully() {
        platform::SocketSetLinger(sock.FSocket, false, 0);
        sock.Disconnect();
    }
    TStreamSocket sock;
};

// Compares without printing megabytes when they differ.
void ExpectSameBytes(const std::string& actual, const std::string& expected) {
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected) << "contents differ";
}

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return data;
}

struct TempFile {
    explicit TempFile(const std::string& content) : path(folder.Path() / "sent") {
        test_support::WriteFile(path, content);
    }
    test_support::TemporaryDirectory folder;
    std::filesystem::path path;
};

TEST(StreamLines, LineArrivingInPiecesIsReturnedWhole) {
    Peer peer([](int c) {
        SendAll(c, "22");
        Pause(50);
        SendAll(c, "0 ready\r\n");
    });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.ReadLn(), "220 ready\r\n");
}

TEST(StreamLines, TwoLinesInOneSegmentComeFromTwoCalls) {
    Peer peer([](int c) {
        SendAll(c, "1 first\r\n2 second\r\n");
        ReceiveUntilClosed(c); // keeps the connection open until the client is done
    });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.ReadLn(), "1 first\r\n");
    EXPECT_EQ(conn.sock.ReadLn(), "2 second\r\n");
    conn.sock.Disconnect();
}

TEST(StreamLines, PeerClosingMidLineGivesEmptyLine) {
    Peer peer([](int c) { SendAll(c, "230 partial"); });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.ReadLn(), "");
}

TEST(StreamLines, TimeOutEndsReadLnWithReadlnAborted) {
    Peer peer([](int c) { ReceiveUntilClosed(c); });
    Connection conn(peer);
    conn.sock.TimeOut = 100;
    try {
        conn.sock.ReadLn();
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket readln aborted");
    }
    EXPECT_TRUE(conn.sock.FTimedOut);
    EXPECT_FALSE(conn.sock.FCanceled); // consumed by the operation that reported it
    conn.sock.Disconnect();
}

TEST(StreamLines, PendingCancelEndsReadLnEvenWhenThePeerHasClosed) {
    // Had ReadLn returned the peer's close instead, the cancel would have stayed pending
    // and ended some later, unrelated operation.
    Peer peer([](int) {});
    Connection conn(peer);
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    conn.sock.Cancel();
    try {
        conn.sock.ReadLn();
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket readln aborted");
    }
    EXPECT_FALSE(conn.sock.FCanceled);
    EXPECT_EQ(conn.sock.ReadLn(), "");
}

TEST(StreamLines, LineLongerThanTheBufferFails) {
    Peer peer([](int c) {
        SendAll(c, std::string(70000, 'x'));
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    conn.sock.TimeOut = 10000;
    try {
        conn.sock.ReadLn();
        FAIL() << "no exception";
    } catch (const EAbortError&) {
        FAIL() << "time-out instead of the length check";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message(), "Line too long");
    }
    conn.sock.Disconnect();
}

TEST(StreamTransaction, SendsCommandWithCrLfAndTakesReplyNumber) {
    std::string received;
    Peer peer([&](int c) {
        received = ReceiveExactly(c, 6);
        SendAll(c, "230 User logged in\r\n");
        received += ReceiveExactly(c, 6);
        SendAll(c, "Hello there\r\n");
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.Transaction("USER"), "230 User logged in\r\n");
    EXPECT_EQ(conn.sock.ReplyNumber, 230);
    EXPECT_EQ(conn.sock.TransactionReply, "230 User logged in\r\n");
    EXPECT_EQ(conn.sock.Transaction("NOOP"), "Hello there\r\n");
    EXPECT_EQ(conn.sock.ReplyNumber, 0);
    conn.sock.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_EQ(received, "USER\r\nNOOP\r\n");
}

TEST(StreamTransaction, ReplyNumberBeyondSixteenBitsSaturates) {
    Peer peer([](int c) {
        ReceiveExactly(c, 3);
        SendAll(c, "99999 big\r\n");
        ReceiveExactly(c, 3);
        SendAll(c, "123456789012345\r\n"); // only ten digits are taken
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    conn.sock.Transaction("A");
    EXPECT_EQ(conn.sock.ReplyNumber, 32767);
    conn.sock.Transaction("B");
    EXPECT_EQ(conn.sock.ReplyNumber, 32767);
    conn.sock.Disconnect();
}

TEST(StreamTransaction, PeerClosingLeavesReplyNumberZero) {
    Peer peer([](int c) { ReceiveExactly(c, 6); });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.Transaction("QUIT"), "");
    EXPECT_EQ(conn.sock.ReplyNumber, 0);
}

TEST(StreamWrite, TextIsCutAtNulAndLongTextGoesOutWhole) {
    std::string received;
    const std::string big = Pattern(200000);
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    conn.sock.Write(std::string("ab\0cd", 5));
    conn.sock.Write("");
    conn.sock.Write(big);
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    ExpectSameBytes(received, "ab" + big);
}

TEST(StreamWrite, PendingCancelSendsNothingAndRaisesSendAborted) {
    std::string received;
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    conn.sock.Cancel();
    EXPECT_THROW(conn.sock.Writeln("LOST"), EAbortError);
    EXPECT_FALSE(conn.sock.FCanceled);
    conn.sock.Writeln("KEPT");
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_EQ(received, "KEPT\r\n");
}

TEST(StreamWrite, CancelReachesASendToAPeerThatDoesNotRead) {
    Peer peer([&](int) { peer.WaitForSignal(); });
    Connection conn(peer);
    DelayedAction cancel(100, [&] { conn.sock.Cancel(); });
    try {
        conn.sock.Write(Pattern(60000000)); // far more than the socket buffers hold
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket send aborted");
    }
    EXPECT_TRUE(cancel.Fired());
    peer.Signal();
}

TEST(StreamRead, ReadZeroTakesWhateverIsWaiting) {
    Peer peer([&](int c) {
        peer.WaitForSignal();
        SendAll(c, std::string(300, 'q'));
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.Read(0), "");
    peer.Signal();
    ASSERT_TRUE(PumpUntil([&] { return test_support::BytesWaiting(conn.sock.FSocket) == 300; }));
    EXPECT_EQ(conn.sock.Read(0), std::string(300, 'q'));
    conn.sock.Disconnect();
}

TEST(StreamRead, ReadFiveWaitsForTheMissingBytes) {
    Peer peer([](int c) {
        SendAll(c, "abc");
        Pause(100);
        SendAll(c, "defg");
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    EXPECT_EQ(conn.sock.Read(5), "abcde");
    EXPECT_EQ(conn.sock.Read(2), "fg");
    conn.sock.Disconnect();
}

TEST(StreamRead, CancelEndsReadAndLeavesTheBytesQueued) {
    Peer peer([](int c) {
        SendAll(c, "abc");
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    DelayedAction cancel(100, [&] { conn.sock.Cancel(); });
    try {
        conn.sock.Read(5);
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket send aborted");
    }
    EXPECT_FALSE(conn.sock.FCanceled);
    EXPECT_TRUE(conn.sock.DataAvailable());
    EXPECT_EQ(conn.sock.Read(0), "abc");
    conn.sock.Disconnect();
}

TEST(StreamRead, ClearInputTakesAtMostOneBufferFull) {
    const std::string data = Pattern(100000);
    Peer peer([&](int c) {
        SendAll(c, data);
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    ASSERT_TRUE(PumpUntil([&] { return test_support::BytesWaiting(conn.sock.FSocket) == 100000; }));
    conn.sock.ClearInput();
    EXPECT_EQ(test_support::BytesWaiting(conn.sock.FSocket), 100000 - 65536);
    EXPECT_EQ(conn.sock.Read(100000 - 65536), data.substr(65536));
    conn.sock.ClearInput(); // an empty queue is no error
    conn.sock.Disconnect();
}

TEST(StreamSendFile, EmptyFileSendsNothing) {
    TempFile file("");
    std::string received = "unset";
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    int packets = 0;
    conn.sock.OnPacketSent = [&](TObject*) { ++packets; };
    conn.sock.SendFile(file.path.string());
    conn.sock.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_EQ(received, "");
    EXPECT_EQ(packets, 0);
    EXPECT_EQ(conn.sock.BytesSent, 0);
}

TEST(StreamSendFile, FileGoesOutInBlocksOf64KiB) {
    const std::string data = Pattern(150000);
    TempFile file(data);
    std::string received;
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    std::vector<std::int32_t> progress;
    conn.sock.OnPacketSent = [&](TObject* sender) {
        EXPECT_EQ(sender, &conn.sock);
        progress.push_back(conn.sock.BytesSent);
    };
    conn.sock.SendFile(file.path.string());
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    ExpectSameBytes(received, data);
    EXPECT_EQ(conn.sock.BytesSent, 150000);
    ASSERT_GE(progress.size(), 3u);
    // A block's last send ends exactly on the block's boundary.
    for (std::int32_t boundary : {65536, 131072, 150000})
        EXPECT_NE(std::find(progress.begin(), progress.end(), boundary), progress.end())
            << boundary;
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST(StreamSendFile, PendingCancelSendsNothingAndIsConsumed) {
    TempFile file(Pattern(1000));
    std::string received = "unset";
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    conn.sock.Cancel();
    try {
        conn.sock.SendFile(file.path.string());
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket send aborted");
    }
    EXPECT_FALSE(conn.sock.FCanceled);
    EXPECT_EQ(conn.sock.BytesSent, 0);
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_EQ(received, "");
}

TEST(StreamSendFile, MissingFileFailsBeforeSending) {
    Peer peer([](int c) { ReceiveUntilClosed(c); });
    Connection conn(peer);
    try {
        conn.sock.SendFile("/nonexistent/dir/file.svf");
        FAIL() << "no exception";
    } catch (const platform::EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file /nonexistent/dir/file.svf");
    }
    EXPECT_EQ(conn.sock.BytesSent, 0);
    conn.sock.Disconnect();
}

} // namespace

namespace {

TEST(StreamNotifications, ReadNotificationWaitsForAReadAndNewData) {
    Peer peer([&](int c) {
        peer.WaitForSignal(1);
        SendAll(c, "a");
        peer.WaitForSignal(2);
        SendAll(c, "b");
        ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    int readReady = 0;
    conn.sock.FOnReadReady = [&](TObject*) { ++readReady; };
    peer.Signal();
    ASSERT_TRUE(PumpUntil([&] { return readReady == 1; }));
    peer.Signal(); // more data, but nothing was read since the notification
    ASSERT_TRUE(PumpUntil([&] { return test_support::BytesWaiting(conn.sock.FSocket) == 2; }));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(readReady, 1);
    EXPECT_EQ(conn.sock.Read(1), "a");
    EXPECT_EQ(conn.sock.Read(1), "b");
    conn.sock.Disconnect();
}

TEST(StreamNotifications, ReadLnOnAnUnconnectedSocketGivesEmptyLine) {
    TStreamSocket sock;
    EXPECT_EQ(sock.ReadLn(), "");
    EXPECT_EQ(sock.LastErrorNo, 10057);
}

TEST(StreamNotifications, NegativeTimeOutIsARangeError) {
    TStreamSocket sock;
    sock.TimeOut = -1;
    try {
        sock.ReadLn();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "Range check error");
    }
}

} // namespace
