// The file sender under SendFile: the zero-copy path and the staged path deliver the same
// bytes, a full send queue is waited out and resumed without losing or repeating a byte, a
// broken connection is an error and not a signal, a file that shrinks ends the upload, a
// cancel or the time-out ends a send to a peer that has stopped reading, and the stream is
// held to full segments while the file goes out but never after.
#include "platform/file_sender.h"
#include "tests/socket/socket_peer.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The path by name where the test list shows the parameter; for a type of namespace platform
// only a PrintTo of that namespace is found.
namespace platform {
static void PrintTo(FileSender::Path path, std::ostream* os) {
    *os << (path == FileSender::Path::ZeroCopy ? "ZeroCopy" : "Staged");
}
} // namespace platform

namespace {

using platform::FileSender;
using test_support::DelayedAction;
using test_support::Peer;
using test_support::PumpUntil;
using test_support::ReceiveUntilClosed;

constexpr std::size_t kBlock = TStreamSocket::kBufferSize;
// Far more than a peer that does not read lets the send queues hold on loopback.
constexpr std::size_t kStallingSize = 16u << 20;

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 131 + i / 4093);
    return data;
}

struct TempFile {
    explicit TempFile(const std::string& content, const std::string& tag)
        : path(folder.Path() / tag) {
        test_support::WriteFile(path, content);
    }
    test_support::TemporaryDirectory folder;
    std::filesystem::path path;
};

struct Connection {
    explicit Connection(Peer& peer) {
        sock.Host = "127.0.0.1";
        sock.Port = peer.Port();
        sock.TimeOut = 10000;
        sock.Connect();
        sock.TimeOut = 0;
    }
    void CloseGracefully() {
        platform::SocketSetLinger(sock.FSocket, false, 0);
        sock.Disconnect();
    }
    TStreamSocket sock;
};

void ExpectSameBytes(const std::string& actual, const std::string& expected) {
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected) << "contents differ";
}

// Whether SIGPIPE (13) is set in one of the calling thread's signal masks ("SigBlk",
// "SigPnd", "ShdPnd").
bool SigpipeIn(const std::string& mask) {
    std::ifstream status("/proc/thread-self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(mask + ":", 0) == 0)
            return (std::stoull(line.substr(mask.size() + 1), nullptr, 16) >> 12) & 1u;
    ADD_FAILURE() << "no " << mask << " in the thread's status";
    return false;
}

// Whether the socket holds back segments that are not full (TCP_CORK).
bool Corked(TSocket socket) {
    int value = 0;
    socklen_t length = sizeof value;
    EXPECT_EQ(::getsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_CORK, &value, &length), 0);
    return value != 0;
}

std::string PathName(const testing::TestParamInfo<FileSender::Path>& info) {
    return info.param == FileSender::Path::ZeroCopy ? "ZeroCopy" : "Staged";
}

class FileSenderPaths : public testing::TestWithParam<FileSender::Path> {
protected:
    std::array<char, kBlock> staging{};
};

TEST_P(FileSenderPaths, SendsTheWholeFileInPiecesOfAtMostTheLengthAsked) {
    const std::string data = Pattern(150000);
    TempFile file(data, "whole");
    std::string received;
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    {
        platform::FileReader reader(file.path.string());
        FileSender sender(reader, staging.data(), staging.size(), GetParam());
        EXPECT_EQ(sender.ZeroCopy(), GetParam() == FileSender::Path::ZeroCopy);
        std::size_t sent = 0;
        for (int attempts = 0; attempts < 100000; ++attempts) {
            const std::size_t asked = std::min<std::size_t>(kBlock, 150000 - sent);
            const int n = sender.Send(conn.sock.FSocket, asked);
            if (n == 0)
                break;
            if (n < 0) {
                ASSERT_EQ(platform::SocketLastError(), platform::kWsaEWouldBlock);
                platform::WaitForRoom(conn.sock.FSocket, 50);
                continue;
            }
            EXPECT_LE(static_cast<std::size_t>(n), asked);
            sent += static_cast<std::size_t>(n);
        }
        EXPECT_EQ(sent, 150000u);
        EXPECT_EQ(reader.Position(), 150000);
        EXPECT_EQ(sender.Send(conn.sock.FSocket, kBlock), 0); // the end stays the end
    }
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    ExpectSameBytes(received, data);
}

TEST_P(FileSenderPaths, FullSendQueueIsWaitedOutWithoutLosingOrRepeatingBytes) {
    const std::string data = Pattern(kStallingSize);
    TempFile file(data, "stall");
    std::string received;
    Peer peer([&](int c) {
        peer.WaitForSignal();
        received = ReceiveUntilClosed(c);
    });
    Connection conn(peer);
    {
        platform::FileReader reader(file.path.string());
        FileSender sender(reader, staging.data(), staging.size(), GetParam());
        std::size_t sent = 0;
        bool blocked = false;
        for (int attempts = 0; attempts < 1000000; ++attempts) {
            const int n = sender.Send(conn.sock.FSocket, kBlock);
            if (n == 0)
                break;
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            ASSERT_EQ(platform::SocketLastError(), platform::kWsaEWouldBlock);
            if (!blocked) {
                blocked = true; // the peer has stopped reading: now let it take everything
                peer.Signal();
            }
            platform::WaitForRoom(conn.sock.FSocket, 50);
        }
        EXPECT_TRUE(blocked) << "the send queue never filled";
        EXPECT_EQ(sent, kStallingSize);
    }
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }, 30000));
    ExpectSameBytes(received, data);
}

TEST_P(FileSenderPaths, BrokenConnectionIsAnErrorAndNoSignal) {
    TempFile file(Pattern(kStallingSize), "broken");
    Peer peer([&](int) { peer.WaitForSignal(); }); // closes with unread data: a reset
    Connection conn(peer);
    int error = 0;
    {
        platform::FileReader reader(file.path.string());
        FileSender sender(reader, staging.data(), staging.size(), GetParam());
        bool signalled = false;
        for (int attempts = 0; attempts < 1000000 && error == 0; ++attempts) {
            const int n = sender.Send(conn.sock.FSocket, kBlock);
            ASSERT_NE(n, 0) << "the file ended before the connection broke";
            if (n > 0)
                continue;
            const int last = platform::SocketLastError();
            if (last != platform::kWsaEWouldBlock) {
                // Once more after the reset: this send fails with a broken pipe.
                sender.Send(conn.sock.FSocket, kBlock);
                error = last;
                break;
            }
            if (!signalled) {
                signalled = true;
                peer.Signal();
                ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
            }
            platform::WaitForRoom(conn.sock.FSocket, 50);
        }
        EXPECT_NE(error, 0);
    }
    // The process is still here; nothing is left pending or held back.
    EXPECT_FALSE(SigpipeIn("SigPnd"));
    EXPECT_FALSE(SigpipeIn("ShdPnd"));
    EXPECT_FALSE(SigpipeIn("SigBlk"));
    conn.sock.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(StreamBothPaths, FileSenderPaths,
                         testing::Values(FileSender::Path::ZeroCopy, FileSender::Path::Staged),
                         PathName);

TEST(StreamSendFileEnds, FileThatShrinksWhileSentEndsTheSendWithWhatWasThere) {
    const std::string data = Pattern(300000);
    TempFile file(data, "shrink");
    std::string received;
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    int packets = 0;
    conn.sock.OnPacketSent = [&](TObject*) {
        if (++packets == 1)
            std::filesystem::resize_file(file.path, 1000);
    };
    conn.sock.SendFile(file.path.string());
    conn.CloseGracefully();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_LT(conn.sock.BytesSent, 300000);
    EXPECT_EQ(received.size(), static_cast<std::size_t>(conn.sock.BytesSent));
    // Bytes handed to the socket by reference to the file's pages may still change when the
    // file is cut; the part that the file still holds arrives as it was.
    EXPECT_EQ(received.substr(0, 1000), data.substr(0, 1000));
}

TEST(StreamSendFileEnds, StreamsInFullSegmentsAndPushesTheTailOutAtTheEnd) {
    // 150,000 bytes: two full blocks and a tail of 18,928 that no segment fills.
    const std::string data = Pattern(150000);
    TempFile file(data, "cork");
    std::string received;
    std::atomic<bool> all{false};
    Peer peer([&](int c) {
        std::array<char, 65536> block{};
        while (received.size() < data.size()) {
            const auto n = ::recv(c, block.data(), block.size(), 0);
            if (n <= 0)
                return;
            received.append(block.data(), static_cast<std::size_t>(n));
        }
        all = true;
        peer.WaitForSignal();
    });
    Connection conn(peer);
    int corkedSends = 0, sends = 0;
    conn.sock.OnPacketSent = [&](TObject*) {
        ++sends;
        corkedSends += Corked(conn.sock.FSocket) ? 1 : 0;
    };
    conn.sock.SendFile(file.path.string());
    EXPECT_GE(sends, 3);
    EXPECT_EQ(corkedSends, sends);
    EXPECT_FALSE(Corked(conn.sock.FSocket));
    // The tail reaches the peer while the connection stays open.
    ASSERT_TRUE(PumpUntil([&] { return all.load(); }));
    ExpectSameBytes(received, data);
    peer.Signal();
    conn.CloseGracefully();
}

TEST(StreamSendFileEnds, HandlerThatClosesTheConnectionEndsTheSendWithASocketError) {
    const std::string data = Pattern(kStallingSize);
    TempFile file(data, "closed");
    std::string received;
    Peer peer([&](int c) { received = ReceiveUntilClosed(c); });
    Connection conn(peer);
    int packets = 0;
    conn.sock.OnPacketSent = [&](TObject*) {
        if (++packets == 1)
            conn.sock.Disconnect();
    };
    EXPECT_THROW(conn.sock.SendFile(file.path.string()), ESockError);
    EXPECT_EQ(packets, 1);
    EXPECT_FALSE(SigpipeIn("SigPnd"));
    EXPECT_FALSE(SigpipeIn("SigBlk"));
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_LE(received.size(), static_cast<std::size_t>(conn.sock.BytesSent));
}

TEST(StreamSendFileEnds, CancelEndsASendToAPeerThatStoppedReading) {
    TempFile file(Pattern(kStallingSize), "cancel");
    Peer peer([&](int) { peer.WaitForSignal(); });
    Connection conn(peer);
    int packets = 0;
    conn.sock.OnPacketSent = [&](TObject* sender) {
        EXPECT_EQ(sender, &conn.sock);
        ++packets;
    };
    DelayedAction cancel(100, [&] { conn.sock.Cancel(); });
    try {
        conn.sock.SendFile(file.path.string());
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket send aborted");
    }
    EXPECT_TRUE(cancel.Fired());
    EXPECT_FALSE(conn.sock.FCanceled);
    EXPECT_FALSE(Corked(conn.sock.FSocket));
    EXPECT_GT(packets, 0);
    EXPECT_LT(conn.sock.BytesSent, static_cast<std::int32_t>(kStallingSize));
    EXPECT_FALSE(SigpipeIn("SigBlk"));
    peer.Signal();
    conn.sock.Disconnect();
}

TEST(StreamSendFileEnds, TimeOutEndsASendToAPeerThatStoppedReading) {
    TempFile file(Pattern(kStallingSize), "timeout");
    Peer peer([&](int) { peer.WaitForSignal(); });
    Connection conn(peer);
    // SendFile arms no time-out of its own; one armed by its caller reaches it.
    conn.sock.TimeOut = 200;
    conn.sock.TimerOn();
    try {
        conn.sock.SendFile(file.path.string());
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket send aborted");
    }
    conn.sock.TimerOff();
    conn.sock.TimeOut = 0;
    EXPECT_FALSE(conn.sock.FCanceled);
    EXPECT_LT(conn.sock.BytesSent, static_cast<std::int32_t>(kStallingSize));
    peer.Signal();
    conn.sock.Disconnect();
}

} // namespace
