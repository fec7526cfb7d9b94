// The data connection listener: the PORT argument, accepting one connection, one that takes
// connections from a single address only, and a cancel while waiting for a peer that never
// comes.
#include "tests/socket/socket_peer.h"
#include "tests/support/loopback_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::DelayedAction;
using test_support::PumpUntil;

std::uint16_t PortOf(const std::string& portString) {
    // ",high,low"
    const int high = std::stoi(NthField(portString, ',', 2));
    const int low = std::stoi(NthField(portString, ',', 3));
    return static_cast<std::uint16_t>(high * 256 + low);
}

TEST(ListenPortString, FormatsHighByteThenLowByte) {
    EXPECT_EQ(FormatPortString(1041), ",4,17");
    EXPECT_EQ(FormatPortString(256), ",1,0");
    EXPECT_EQ(FormatPortString(65535), ",255,255");
    EXPECT_EQ(FormatPortString(21), ",0,21");
}

TEST(ListenPortString, ReportsThePortTheSystemChose) {
    TStreamSocket data;
    data.Port = 0;
    data.Listen(true);
    const std::string portString = data.GetPortString();
    EXPECT_NE(portString, ",0,0");
    // The announced port really is the listening one.
    const int client = test_support::ConnectTo("127.0.0.1", PortOf(portString));
    EXPECT_GE(client, 0);
    if (client >= 0)
        test_support::CloseSocket(client);
}

TEST(ListenAccept, AcceptsTheIncomingConnectionAndCarriesData) {
    TStreamSocket data;
    int acceptHook = 0;
    data.FOnAcceptReady = [&](TObject*) { ++acceptHook; };
    data.Port = 0;
    data.Listen(true);
    EXPECT_FALSE(data.Connected);
    const std::uint16_t port = PortOf(data.GetPortString());
    std::string received;
    std::thread peer([&] {
        const int c = test_support::ConnectTo("127.0.0.1", port);
        if (c < 0)
            return;
        received = test_support::ReceiveUntilClosed(c);
        test_support::CloseSocket(c);
    });
    DelayedAction watchdog(10000, [&] { data.Cancel(); });
    const TSocket listener = data.FSocket;
    const TSocket accepted = data.Accept();
    EXPECT_FALSE(watchdog.Fired());
    EXPECT_TRUE(data.Connected);
    EXPECT_EQ(acceptHook, 1);
    EXPECT_NE(accepted, listener);
    // The caller swaps the accepted socket in and closes the listener.
    data.FSocket = accepted;
    EXPECT_EQ(platform::SocketClose(listener), 0);
    data.Writeln("payload");
    platform::SocketSetLinger(data.FSocket, false, 0);
    data.RequestCloseSocket();
    peer.join();
    EXPECT_EQ(received, "payload\r\n");
}

TEST(ListenAccept, CancelWhileNoPeerComesGivesAcceptingCanceled) {
    TStreamSocket data;
    data.Port = 0;
    data.Listen(true);
    DelayedAction cancel(50, [&] { data.Cancel(); });
    try {
        data.Accept();
        FAIL() << "no exception";
    } catch (const EAbortError&) {
        FAIL() << "wrong class";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message(), "Accepting Canceled");
    }
    EXPECT_TRUE(cancel.Fired());
    EXPECT_TRUE(data.FCanceled); // left set for the caller
}

TEST(ListenAccept, FromOneAddressAStrangerIsClosedUnansweredAndTheWaitGoesOn) {
    const platform::SocketAddress loopback = *platform::NumericAddress("127.0.0.1");
    TStreamSocket data;
    std::vector<std::string> refusals;
    data.OnConnectionRefused = [&](TComponent*, const std::string& text) {
        refusals.push_back(text);
    };
    data.Port = 0;
    data.Listen(true, loopback, loopback);
    EXPECT_EQ(data.LocalAddressText(), "127.0.0.1");
    const std::uint16_t port = data.LocalPort();

    const int stranger = test_support::ConnectFrom("127.0.0.2", "127.0.0.1", port);
    ASSERT_GE(stranger, 0);
    ASSERT_TRUE(PumpUntil([&] { return !refusals.empty(); }));
    EXPECT_FALSE(data.Connected);
    EXPECT_TRUE(test_support::RefusedUnanswered(stranger))
        << "the stranger's connection was not refused";
    test_support::CloseSocket(stranger);
    EXPECT_EQ(refusals, std::vector<std::string>{"Refused a data connection from 127.0.0.2"});

    const int peer = test_support::ConnectTo("127.0.0.1", port);
    ASSERT_GE(peer, 0);
    DelayedAction watchdog(10000, [&] { data.Cancel(); });
    data.TakeAcceptedConnection(data.Accept());
    EXPECT_FALSE(watchdog.Fired());
    data.Writeln("payload");
    data.CloseGracefully();
    EXPECT_EQ(test_support::ReceiveUntilClosed(peer), "payload\r\n");
    test_support::CloseSocket(peer);
}

TEST(ListenAccept, WithoutSyncAcceptTheNotificationDoesNotEndTheWait) {
    TStreamSocket data;
    int acceptHook = 0;
    data.FOnAcceptReady = [&](TObject*) { ++acceptHook; };
    data.Port = 0;
    data.Listen(false);
    const int client = test_support::ConnectTo("127.0.0.1", PortOf(data.GetPortString()));
    ASSERT_GE(client, 0);
    ASSERT_TRUE(PumpUntil([&] { return acceptHook == 1; }));
    EXPECT_TRUE(data.Connected);
    DelayedAction cancel(50, [&] { data.Cancel(); });
    EXPECT_THROW(data.Accept(), ESockError);
    EXPECT_TRUE(cancel.Fired());
    test_support::CloseSocket(client);
}

} // namespace
