// A host name with several addresses, of either family: each is tried in turn, and one that
// refuses or does not answer at all gives way to the next.
#include "platform/host_lookup.h"
#include "socket/stream_socket.h"
#include "tests/socket/socket_peer.h"
#include "tests/support/loopback_socket.h"

#include <gtest/gtest.h>

#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kName[] = "several-addresses.test";

platform::SocketAddress Loopback(platform::AddressFamily family) {
    platform::SocketAddress address;
    address.family = family;
    if (family == platform::AddressFamily::IPv4) {
        address.bytes = {127, 0, 0, 1};
    } else {
        address.bytes[15] = 1;
    }
    return address;
}

// A listener on ::1 at a given port, or -1 when the port is taken there.
int ListenIPv6(std::uint16_t port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int only = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct SeveralCase {
    const char* name;
    bool unansweredFirst; // else refused first
};

void PrintTo(const SeveralCase& c, std::ostream* os) {
    *os << c.name << " (first of two addresses)";
}

class SeveralAddresses : public ::testing::TestWithParam<SeveralCase> {
protected:
    void TearDown() override { platform::SetHostAddressesForTesting(kName, {}); }
};

TEST_P(SeveralAddresses, TheNextAddressIsTriedWhenOneCannotBeReached) {
    const bool unanswered = GetParam().unansweredFirst;
    std::unique_ptr<test_support::FullListener> full;
    int listener = -1;
    std::uint16_t port = 0;
    platform::AddressFamily working = platform::AddressFamily::IPv4;
    if (unanswered) {
        // 127.0.0.1 drops the attempt; ::1 at the same port answers.
        for (int tries = 0; tries < 5 && listener < 0; ++tries) {
            full = std::make_unique<test_support::FullListener>();
            port = full->Port();
            listener = ListenIPv6(port);
        }
        ASSERT_GE(listener, 0);
        working = platform::AddressFamily::IPv6;
        platform::SetHostAddressesForTesting(
            kName, {Loopback(platform::AddressFamily::IPv4), Loopback(working)});
    } else {
        // Nothing listens on ::1 at the port of the 127.0.0.1 listener.
        listener = test_support::ListenLoopback(port);
        platform::SetHostAddressesForTesting(
            kName, {Loopback(platform::AddressFamily::IPv6), Loopback(working)});
    }
    TStreamSocket sock;
    sock.Host = kName;
    sock.Port = port;
    sock.TimeOut = 20000; // bounds the whole connect
    sock.AttemptTimeOut = 200;
    int failures = 0;
    sock.OnConnectionFailed = [&](TObject*) { ++failures; };
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(sock.PeerAddress().family, working);
    EXPECT_EQ(sock.PeerAddress().port, port);
    sock.Disconnect();
    ::close(listener);
}

INSTANTIATE_TEST_SUITE_P(FirstAddress, SeveralAddresses,
                         ::testing::Values(SeveralCase{"Refused", false},
                                           SeveralCase{"Unanswered", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
