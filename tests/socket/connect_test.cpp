// Connection set-up and tear-down: numeric and named hosts, the invalid-host retry, the
// failure texts of the connection wait, closing and the fresh socket after it.
#include "tests/socket/socket_peer.h"
#include "tests/support/loopback_socket.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using test_support::ClosedPort;
using test_support::DelayedAction;
using test_support::FullListener;
using test_support::Peer;
using test_support::PumpUntil;

// A socket with every event counted and every status recorded.
struct Observed {
    Observed() {
        sock.TimeOut = 10000; // bounds every wait; tests of the time-out set their own
        sock.ReportLevel = 8;
        sock.OnStatus = [this](TComponent*, const std::string& s) { statuses.push_back(s); };
        sock.OnConnect = [this](TObject*) { ++connects; };
        sock.OnDisconnect = [this](TObject*) { ++disconnects; };
        sock.OnHostResolved = [this](TComponent*) { ++resolved; };
        sock.OnConnectionFailed = [this](TObject*) { ++failed; };
    }
    bool Saw(const std::string& status) const {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }

    TStreamSocket sock;
    std::vector<std::string> statuses;
    int connects = 0;
    int disconnects = 0;
    int resolved = 0;
    int failed = 0;
};

// A listener that completes handshakes without accepting (the kernel does it).
struct Listener {
    Listener() { fd = test_support::ListenLoopback(port); }
    ~Listener() { test_support::CloseSocket(fd); }
    int fd = -1;
    std::uint16_t port = 0;
};

std::string ConnectError(TStreamSocket& sock) {
    try {
        sock.Connect();
    } catch (const ESockError& e) {
        return e.Message();
    }
    return "no error";
}

TEST(ConnectHosts, NumericHostConnectsWithoutLookup) {
    Listener listener;
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = listener.port;
    o.sock.Connect();
    EXPECT_TRUE(o.sock.Connected);
    EXPECT_EQ(o.connects, 1);
    EXPECT_EQ(o.resolved, 0);
    // Only the connection wait arms the timer: no lookup ran.
    const std::vector<std::string> expected = {"Connecting", "Resolve Host", "Timer On",
                                               "Timer Off"};
    EXPECT_EQ(o.statuses, expected);
    EXPECT_EQ(o.sock.GetLocalAddress(), "127,0,0,1");
}

TEST(ConnectHosts, LocalhostIsResolvedByLookup) {
    Listener listener;
    Observed o;
    o.sock.Host = "localhost";
    o.sock.Port = listener.port;
    o.sock.Connect();
    EXPECT_TRUE(o.sock.Connected);
    EXPECT_EQ(o.resolved, 1);
    EXPECT_EQ(o.connects, 1);
}

TEST(ConnectHosts, UnresolvableNameGivesNullRemoteAddressAndOffersRetryOnce) {
    Observed o;
    o.sock.Host = "no-such-host.invalid";
    o.sock.Port = 21;
    int offered = 0;
    o.sock.OnInvalidHost = [&](bool& Handled) {
        ++offered;
        Handled = true; // asks for a retry but leaves the bad name
    };
    EXPECT_EQ(ConnectError(o.sock), "Null Remote Address");
    EXPECT_EQ(offered, 1);
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(o.resolved, 0);
    EXPECT_FALSE(o.sock.Connected);
}

TEST(ConnectHosts, UnresolvableNameWithoutHandlerOrDeclinedGivesNullRemoteAddress) {
    Observed o;
    o.sock.Host = "no-such-host.invalid";
    EXPECT_EQ(ConnectError(o.sock), "Null Remote Address");
    int offered = 0;
    o.sock.OnInvalidHost = [&](bool&) { ++offered; };
    EXPECT_EQ(ConnectError(o.sock), "Null Remote Address");
    EXPECT_EQ(offered, 1);
}

TEST(ConnectHosts, InvalidHostHandlerMayCorrectTheHost) {
    Listener listener;
    Observed o;
    o.sock.Host = "0.0.0.0"; // the zero address counts as unresolved
    o.sock.Port = listener.port;
    o.sock.OnInvalidHost = [&](bool& Handled) {
        o.sock.Host = "127.0.0.1";
        Handled = true;
    };
    o.sock.Connect();
    EXPECT_TRUE(o.sock.Connected);
}

TEST(ConnectHosts, ProxyIsUsedInsteadOfHost) {
    Listener listener;
    Observed o;
    o.sock.Host = "no-such-host.invalid";
    o.sock.Port = ClosedPort();
    o.sock.Proxy = "127.0.0.1";
    o.sock.ProxyPort = listener.port;
    o.sock.Connect();
    EXPECT_TRUE(o.sock.Connected);
}

TEST(ConnectFailures, RefusedConnectionFiresConnectionFailed) {
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = ClosedPort();
    EXPECT_EQ(ConnectError(o.sock), "Connection Failed");
    EXPECT_EQ(o.failed, 1);
    EXPECT_EQ(o.connects, 0);
    EXPECT_FALSE(o.sock.Connected);
}

TEST(ConnectFailures, TimeOutDuringTheWaitGivesConnectionTimedOut) {
    FullListener full;
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = full.Port();
    o.sock.TimeOut = 200;
    EXPECT_EQ(ConnectError(o.sock), "Connection Timed out");
    EXPECT_EQ(o.failed, 1);
    EXPECT_TRUE(o.sock.FTimedOut);
    EXPECT_TRUE(o.sock.FCanceled); // the time-out cancels through Abort
    EXPECT_TRUE(o.Saw("Timer Triggered"));
}

TEST(ConnectFailures, CancelDuringTheWaitGivesConnectionCanceled) {
    FullListener full;
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = full.Port();
    DelayedAction cancel(50, [&] { o.sock.Cancel(); });
    EXPECT_EQ(ConnectError(o.sock), "Connection Canceled");
    EXPECT_TRUE(cancel.Fired());
    EXPECT_EQ(o.failed, 1);
    EXPECT_FALSE(o.sock.FTimedOut);
}

TEST(ConnectFailures, CancelDuringLookupIsPassedOnWithoutInvalidHostOrConnectionFailed) {
    Observed o;
    o.sock.Host = "localhost";
    o.sock.Port = 21;
    int offered = 0;
    o.sock.OnInvalidHost = [&](bool&) { ++offered; };
    // The lookup's time-out is armed just before the lookup starts: cancel right there.
    o.sock.OnStatus = [&](TComponent*, const std::string& s) {
        if (s == "Timer On" && !o.sock.Connected)
            o.sock.Cancel();
    };
    EXPECT_EQ(ConnectError(o.sock), "Host Lookup Canceled");
    EXPECT_EQ(offered, 0);
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(o.resolved, 0);
}

TEST(ConnectFailures, ConnectWhileConnectedRaisesAlreadyConnected) {
    Listener listener;
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = listener.port;
    o.sock.Connect();
    o.sock.FCanceled = true;
    EXPECT_EQ(ConnectError(o.sock), "Already connected");
    EXPECT_FALSE(o.sock.FCanceled);
    EXPECT_EQ(o.failed, 0);
}

TEST(ConnectClose, DisconnectWithoutConnectionFiresOnDisconnectAndLeavesUsableSocket) {
    Listener listener;
    Observed o;
    const TSocket first = o.sock.FSocket;
    ASSERT_NE(first, kInvalidSocket);
    o.sock.Disconnect();
    EXPECT_EQ(o.disconnects, 1);
    EXPECT_NE(o.sock.FSocket, kInvalidSocket);
    o.sock.Host = "127.0.0.1";
    o.sock.Port = listener.port;
    o.sock.Connect();
    EXPECT_TRUE(o.sock.Connected);
    o.sock.Disconnect();
    EXPECT_FALSE(o.sock.Connected);
    EXPECT_EQ(o.disconnects, 2);
    o.sock.Connect(); // and again on the fresh socket
    EXPECT_TRUE(o.sock.Connected);
}

TEST(ConnectClose, PeerClosingRightAfterAcceptStillEndsTheConnectWait) {
    Peer peer([](int) {}); // accepts and closes at once
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = peer.Port();
    // Hold the client back until the peer has closed, so that the connect and the close
    // notification arrive in the same pass of the pump.
    o.sock.OnStatus = [&](TComponent*, const std::string& s) {
        if (s == "Timer On")
            for (int i = 0; i < 1000 && !peer.Finished(); ++i)
                test_support::Pause(5);
    };
    EXPECT_NO_THROW(o.sock.Connect());
    EXPECT_EQ(o.connects, 1);
    EXPECT_EQ(o.disconnects, 1);
    EXPECT_FALSE(o.sock.Connected);
}

TEST(ConnectClose, PeerCloseWithoutDataClosesAndOpensFreshSocket) {
    Peer peer([](int) {}); // accepts and closes at once
    Observed o;
    o.sock.Host = "127.0.0.1";
    o.sock.Port = peer.Port();
    o.sock.Connect();
    EXPECT_TRUE(PumpUntil([&] { return o.disconnects == 1; }));
    EXPECT_FALSE(o.sock.Connected);
    EXPECT_NE(o.sock.FSocket, kInvalidSocket);
}

TEST(ConnectClose, PeerCloseWithUnreadDataLeavesConnectionUntilRead) {
    Peer peer([](int connection) { test_support::SendAll(connection, "abc"); });
    Observed o;
    int readReady = 0;
    o.sock.FOnReadReady = [&](TObject*) { ++readReady; };
    o.sock.Host = "127.0.0.1";
    o.sock.Port = peer.Port();
    o.sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return readReady >= 1 && peer.Finished(); }));
    // Give the close notification its chance to arrive and be ignored.
    for (int i = 0; i < 5; ++i)
        PumpUntil([] { return false; }, 20);
    EXPECT_TRUE(o.sock.Connected);
    EXPECT_EQ(o.disconnects, 0);
    EXPECT_EQ(o.sock.Read(0), "abc");
    EXPECT_EQ(o.sock.ReadLn(), ""); // the peer is gone
    EXPECT_TRUE(o.sock.Connected);  // the close is not acted on later
    o.sock.Disconnect();
    EXPECT_EQ(o.disconnects, 1);
}

TEST(ConnectClose, CheckConnectionOffersConnectionRequiredOnce) {
    Listener listener;
    Observed o;
    try {
        o.sock.CheckConnection();
        FAIL() << "no exception";
    } catch (const ESockError&) {
        FAIL() << "wrong class";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "Not Connected");
    }
    int offered = 0;
    o.sock.OnConnectionRequired = [&](bool& Handled) {
        ++offered;
        Handled = true; // claims success without connecting
    };
    EXPECT_THROW(o.sock.CheckConnection(), platform::Exception);
    EXPECT_EQ(offered, 1);

    o.sock.OnConnectionRequired = [&](bool& Handled) {
        ++offered;
        o.sock.Host = "127.0.0.1";
        o.sock.Port = listener.port;
        o.sock.Connect();
        Handled = true;
    };
    o.sock.CheckConnection();
    EXPECT_EQ(offered, 2);
    EXPECT_TRUE(o.sock.Connected);
}

TEST(ConnectClose, ExceptionsOfStatusHandlersAreDiscarded) {
    Listener listener;
    TStreamSocket sock;
    sock.ReportLevel = 8;
    sock.OnStatus = [](TComponent*, const std::string&) { throw std::runtime_error("status"); };
    sock.Host = "127.0.0.1";
    sock.Port = listener.port;
    EXPECT_NO_THROW(sock.Connect());
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(sock.Status, "Timer Off");
}

} // namespace
