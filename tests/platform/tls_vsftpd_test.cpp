// The TLS client end against vsftpd set up as careful sites do: FTP over TLS with a session
// that every data connection must resume and uploads that must end with a close-notify. The
// FTP conversation is played here by hand, reply by reply, the way the FTP client will.
#include "platform/tls_file_sender.h"
#include "tests/platform/tls_test_fixture.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/vsftpd_tls_server.h"

#include <poll.h>

#include <cstdio>

namespace {

using platform::TlsConnection;
using test_support::TlsTest;

class TlsVsftpdTest : public TlsTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        const std::string why = test_support::VsftpdTlsServer::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    // A reply line before TLS, read as the socket layer reads one: peek, then take the line.
    static std::string PlainLine(platform::SocketHandle socket) {
        char buffer[256];
        for (int waited = 0; waited < 100; ++waited) {
            const int peeked = platform::SocketRecv(socket, buffer, sizeof buffer, true);
            const std::string seen(buffer, peeked > 0 ? static_cast<std::size_t>(peeked) : 0);
            const auto lf = seen.find('\n');
            if (lf != std::string::npos) {
                platform::SocketRecv(socket, buffer, static_cast<int>(lf + 1), false);
                return seen.substr(0, lf + 1);
            }
            pollfd in{socket, POLLIN, 0};
            ::poll(&in, 1, 100);
        }
        return "(no reply)";
    }

    static std::string Command(TlsConnection& control, const std::string& command) {
        Send(control, command + "\r\n");
        return ReadLine(control);
    }

    // "227 Entering Passive Mode (127,0,0,1,p1,p2)." to its port.
    static std::uint16_t PassivePort(const std::string& reply) {
        unsigned a, b, c, d, p1 = 0, p2 = 0;
        const auto open = reply.find('(');
        if (open == std::string::npos ||
            std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &a, &b, &c, &d, &p1, &p2) != 6)
            return 0;
        return static_cast<std::uint16_t>(p1 * 256 + p2);
    }
};

// With TLS 1.3 each upload resumes a session that came after a handshake, and a host that
// treats sessions as good for one resumption only still takes the second upload.
TEST_P(TlsVsftpdTest, UploadsResumingTheControlSessionAndEndingWithACloseNotify) {
    test_support::VsftpdTlsServer server(
        {Certificates().Pem("host"), Certificates().Key("host"), false, GetParam()});
    const platform::SocketHandle control = Connect(server.Port());
    EXPECT_EQ(PlainLine(control).substr(0, 4), "220 ");
    const std::string auth = "AUTH TLS\r\n";
    ASSERT_EQ(platform::SocketSend(control, auth.data(), static_cast<int>(auth.size())), 10);
    EXPECT_EQ(PlainLine(control).substr(0, 4), "234 ");
    platform::TlsContext context(TrustingTestCa());
    TlsConnection secured(context, control, "127.0.0.1");
    Handshake(secured);
    EXPECT_EQ(secured.Version(), "TLS " + GetParam());
    EXPECT_EQ(Command(secured, "USER " + server.User()).substr(0, 4), "331 ");
    EXPECT_EQ(Command(secured, "PASS " + server.Password()).substr(0, 4), "230 ");
    EXPECT_EQ(Command(secured, "PBSZ 0").substr(0, 4), "200 ");
    EXPECT_EQ(Command(secured, "PROT P").substr(0, 4), "200 ");
    EXPECT_EQ(Command(secured, "TYPE I").substr(0, 4), "200 ");

    test_support::TemporaryDirectory folder;
    const std::string bytes(3 * 1024 * 1024 + 5, 'u');
    test_support::WriteFile(folder / "upload.bin", bytes);
    for (const std::string name : {"first.bin", "second.bin"}) {
        const std::uint16_t port = PassivePort(Command(secured, "PASV"));
        ASSERT_NE(port, 0);
        const platform::SocketHandle socket = Connect(port);
        Send(secured, "STOR " + name + "\r\n");
        // vsftpd answers STOR only once the data connection is secured.
        TlsConnection data(context, socket, "127.0.0.1");
        data.ResumeSessionOf(secured);
        Handshake(data);
        EXPECT_TRUE(data.SessionReused()) << name;
        EXPECT_EQ(ReadLine(secured).substr(0, 4), "150 ");
        platform::FileReader file(folder / "upload.bin");
        std::vector<char> staging(64 * 1024);
        platform::TlsFileSender sender(file, data, staging.data(), staging.size());
        while (Await(data, [&] { return sender.Send(staging.size()); }) > 0) {
        }
        Close(data);
        // vsftpd's helper that runs the data connection's TLS may finish the handshake, and
        // send its session ticket, only after the whole file is queued: the close above
        // waited for it, so closing now cuts nothing.
        CloseSocket(socket);
        EXPECT_EQ(ReadLine(secured), "226 Transfer complete.\r\n") << server.Log();
        EXPECT_EQ(test_support::Sha256OfFile(server.Home() / name), test_support::Sha256Hex(bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsVsftpdTest, ::testing::Values("1.2", "1.3"));

} // namespace
