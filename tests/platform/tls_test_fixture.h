// What the TLS tests share: certificates made once per suite, connected non-blocking
// sockets, and the bounded waits that drive a TlsConnection as the socket layer will.
#pragma once

#include "platform/event_pump.h"
#include "platform/exception.h"
#include "platform/socket_api.h"
#include "platform/tls_connection.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/sha256.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

using platform::TlsConnection;
using platform::TlsStep;
using platform::TlsTrustProblem;

constexpr int kLimitMs = 10000; // bounds every wait of a test that expects progress

class TlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certificates_ = std::make_unique<test_support::TestCertificates>();
    }
    static void TearDownTestSuite() { certificates_.reset(); }

    void TearDown() override {
        for (const platform::SocketHandle socket : sockets_)
            platform::SocketClose(socket);
    }

    static const test_support::TestCertificates& Certificates() { return *certificates_; }

    static TlsPeerConfig Peer(const std::string& certificate = "host") {
        TlsPeerConfig config;
        config.cert = Certificates().Pem(certificate);
        config.key = Certificates().Key(certificate);
        return config;
    }

    static platform::TlsOptions TrustingTestCa() {
        platform::TlsOptions options;
        options.caFile = Certificates().Pem("ca");
        return options;
    }

    // A connected, non-blocking socket to the peer, closed when the test ends.
    platform::SocketHandle Connect(const TlsTestPeer& peer) { return Connect(peer.Port()); }
    platform::SocketHandle Connect(std::uint16_t port) {
        const int socket = test_support::ConnectTo("127.0.0.1", port);
        EXPECT_GE(socket, 0);
        test_support::MakeNonBlocking(socket);
        sockets_.push_back(socket);
        return socket;
    }

    // Closes a socket of Connect before the test ends.
    void CloseSocket(platform::SocketHandle socket) {
        std::erase(sockets_, socket);
        platform::SocketClose(socket);
    }

    // Repeats a step while it waits for the socket, waiting as the connection asks, until
    // it ends or `limitMs` pass.
    static TlsStep Drive(TlsConnection& connection, const std::function<TlsStep()>& step,
                         int limitMs = kLimitMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        TlsStep result = step();
        while ((result == TlsStep::WantRead || result == TlsStep::WantWrite) &&
               std::chrono::steady_clock::now() < deadline) {
            platform::WaitForTls(connection, 50);
            result = step();
        }
        return result;
    }

    static void Handshake(TlsConnection& connection) {
        ASSERT_EQ(Drive(connection, [&] { return connection.Handshake(); }), TlsStep::Done)
            << connection.Error();
    }

    // Calls `transfer` (a Read, Peek or Write) until it takes or gives bytes, or reports the
    // end of the stream (0).
    static int Await(TlsConnection& connection, const std::function<int()>& transfer) {
        int result = -1;
        Drive(connection, [&] {
            result = transfer();
            if (result >= 0)
                return TlsStep::Done;
            EXPECT_EQ(platform::SocketLastError(), platform::kWsaEWouldBlock);
            return connection.WantsWrite() ? TlsStep::WantWrite : TlsStep::WantRead;
        });
        return result;
    }

    // One line as the socket layer reads a reply: peek until a line end shows, then take
    // exactly the bytes of the line.
    static std::string ReadLine(TlsConnection& connection) {
        char buffer[256];
        const int peeked =
            Await(connection, [&] { return connection.Peek(buffer, sizeof buffer); });
        const std::string seen(buffer, peeked > 0 ? static_cast<std::size_t>(peeked) : 0);
        const auto lf = seen.find('\n');
        if (lf == std::string::npos)
            return "(no line in " + seen + ")";
        std::string line(lf + 1, '\0');
        const int read = connection.Read(line.data(), static_cast<int>(line.size()));
        line.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
        return line;
    }

    static void Send(TlsConnection& connection, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = Await(connection, [&] {
                return connection.Write(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
            });
            ASSERT_GT(n, 0);
            sent += static_cast<std::size_t>(n);
        }
    }

    static void Close(TlsConnection& connection) {
        EXPECT_EQ(Drive(connection, [&] { return connection.Shutdown(); }), TlsStep::Done)
            << connection.Error();
    }

    // What the peer reports once the client has closed: "RECEIVED <count> <sha256> <how>".
    static std::string Received(const std::string& bytes) {
        return "RECEIVED " + std::to_string(bytes.size()) + " " + test_support::Sha256Hex(bytes) +
               " clean";
    }

private:
    static inline std::unique_ptr<test_support::TestCertificates> certificates_;
    std::vector<platform::SocketHandle> sockets_;
};

} // namespace test_support
