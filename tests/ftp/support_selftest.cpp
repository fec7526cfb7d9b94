// The test peers themselves: if these fail, the client's tests cannot be trusted.
#include "tests/support/loopback_socket.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scripted_ftp_peer.h"
#include "tests/support/sha256.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using test_support::ScriptedFtpPeer;

// Reads from fd until `count` bytes or the peer closes; bounded by poll.
std::string ReadSome(int fd, std::size_t count) {
    std::string got;
    while (got.size() < count) {
        if (test_support::WaitReadable(fd, -1, 5000) != 1)
            break;
        char block[4096];
        const auto n = test_support::ReceiveSome(fd, block, sizeof block);
        if (n <= 0)
            break;
        got.append(block, static_cast<std::size_t>(n));
    }
    return got;
}

void SendText(int fd, const std::string& text) {
    ASSERT_EQ(test_support::SendSome(fd, text.data(), text.size()), static_cast<long>(text.size()));
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(test_support::Sha256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(test_support::Sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding spills into a second block.
    EXPECT_EQ(test_support::Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(test_support::Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ScriptedFtpPeer, PlaysRepliesRecordsCommandsAndServesPortData) {
    ScriptedFtpPeer peer;
    peer.SendSplit({"22", "0 hello\r\n"})
        .Reply("200 ok\r\n")
        .Expect()
        .ConnectToPort()
        .Send("150 go\r\n")
        .ReceiveData()
        .Send("226 done\r\n")
        .Send("421 bye")
        .Close();
    peer.Start();
    const int control = test_support::ConnectTo("127.0.0.1", peer.Port());
    ASSERT_GE(control, 0);
    EXPECT_EQ(ReadSome(control, 11), "220 hello\r\n");
    SendText(control, "NOOP\r\n");
    EXPECT_EQ(ReadSome(control, 8), "200 ok\r\n");

    std::uint16_t dataPort = 0;
    const int listener = test_support::ListenLoopback(dataPort);
    SendText(control, "PORT 127,0,0,1," + std::to_string(dataPort / 256) + "," +
                          std::to_string(dataPort % 256) + "\r\n");
    EXPECT_EQ(ReadSome(control, 8), "150 go\r\n");
    ASSERT_EQ(test_support::WaitReadable(listener, -1, 5000), 1);
    const int data = test_support::AcceptOn(listener);
    SendText(data, "file bytes");
    test_support::CloseSocket(data);
    test_support::CloseSocket(listener);
    EXPECT_EQ(ReadSome(control, 100), "226 done\r\n421 bye");
    test_support::CloseSocket(control);

    ASSERT_TRUE(peer.Finish()) << peer.Error();
    EXPECT_EQ(peer.Commands(), (std::vector<std::string>{
                                   "NOOP\r\n", "PORT 127,0,0,1," + std::to_string(dataPort / 256) +
                                                   "," + std::to_string(dataPort % 256) + "\r\n"}));
    EXPECT_EQ(peer.ReceivedData(), "file bytes");
}

TEST(ScriptedFtpPeer, AnnouncesPassivePortAndAcceptsTheClient) {
    ScriptedFtpPeer peer;
    peer.ListenPassive()
        .Send("227 Entering Passive Mode (10,9,8,7,{H},{L})\r\n")
        .AcceptPassive()
        .ReceiveData();
    peer.Start();
    const int control = test_support::ConnectTo("127.0.0.1", peer.Port());
    const std::string reply = ReadSome(control, 30);
    unsigned a, b, c, d, hi, lo;
    ASSERT_EQ(std::sscanf(reply.c_str(), "227 Entering Passive Mode (%u,%u,%u,%u,%u,%u)", &a, &b,
                          &c, &d, &hi, &lo),
              6);
    const int data =
        test_support::ConnectTo("127.0.0.1", static_cast<std::uint16_t>(hi * 256 + lo));
    ASSERT_GE(data, 0);
    SendText(data, "xyz");
    test_support::CloseSocket(data);
    ASSERT_TRUE(peer.Finish()) << peer.Error();
    EXPECT_EQ(peer.ReceivedData(), "xyz");
    test_support::CloseSocket(control);
}

TEST(ScriptedFtpPeer, ReportsAClientThatNeverSendsAndStopsPromptlyWhenDestroyed) {
    auto peer = std::make_unique<ScriptedFtpPeer>();
    peer->Expect();
    peer->Start();
    const int control = test_support::ConnectTo("127.0.0.1", peer->Port());
    test_support::CloseSocket(control); // the client goes away without a command
    EXPECT_FALSE(peer->Finish());
    EXPECT_EQ(peer->Error(), "client closed the connection");
    peer.reset(); // joins without waiting for any step limit
}

TEST(RealFtpServer, StartsOnAFreePortAndAcceptsTheUser) {
    test_support::RealFtpServer server;
    ASSERT_NE(server.Port(), 0);
    ASSERT_TRUE(std::filesystem::is_directory(server.Home()));
    const int control = test_support::ConnectTo("127.0.0.1", server.Port());
    ASSERT_GE(control, 0);
    EXPECT_EQ(ReadSome(control, 3).substr(0, 3), "220");
    test_support::CloseSocket(control);
}

} // namespace
