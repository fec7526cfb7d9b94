// The stream I/O of a secured connection against a real TLS peer (Python's ssl module):
// replies are read a line at a time although several lines come in one record, a count of
// bytes spans records, and a file arrives whole, ended by a close-notify.
#include "socket/stream_socket.h"
#include "tests/support/hang_guard.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/sha256.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_peer.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(StreamSocketTls, ReadsLinesAndCountsAcrossRecordsAndSendsAFileEndedByACloseNotify) {
    const test_support::TestCertificates certificates;
    test_support::TlsPeerConfig config;
    config.cert = certificates.Pem("host");
    config.key = certificates.Key("host");
    // More than one record holds: two lines, then a run of bytes.
    const std::string run(20000, 'x');
    config.greeting = "220 one\\r\\n220 two\\r\\n" + run;
    test_support::TlsTestPeer peer(config);

    TStreamSocket sock;
    test_support::HangGuard guard(30000, [&] { sock.Cancel(); });
    sock.Host = "127.0.0.1";
    sock.Port = peer.Port();
    sock.Connect();
    platform::TlsOptions options;
    options.caFile = certificates.Pem("ca");
    platform::TlsContext context(options);
    sock.StartTls(context, "127.0.0.1");
    ASSERT_TRUE(sock.CompleteTlsHandshake());
    EXPECT_TRUE(sock.Tls()->Verification().Trusted());
    EXPECT_EQ(peer.NextReport().rfind("HANDSHAKE", 0), 0u);

    EXPECT_EQ(sock.ReadLn(), "220 one\r\n");
    // The second line is already decrypted, with nothing left on the socket for it.
    EXPECT_TRUE(sock.DataAvailable());
    EXPECT_EQ(sock.ReadLn(), "220 two\r\n");
    EXPECT_EQ(sock.Read(static_cast<std::uint16_t>(run.size())), run);

    test_support::TemporaryDirectory folder;
    const auto file = folder.Path() / "upload.bin";
    std::string bytes(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 4096);
    std::ofstream(file, std::ios::binary) << bytes;
    int packets = 0;
    sock.OnPacketSent = [&](TObject*) { ++packets; };
    sock.SendFile(file.string());
    EXPECT_EQ(sock.BytesSent, static_cast<std::int64_t>(bytes.size()));
    EXPECT_GT(packets, 0);
    sock.EndTls(10000);
    sock.CloseGracefully();
    EXPECT_FALSE(sock.Secured());
    EXPECT_EQ(peer.NextReport(), "RECEIVED " + std::to_string(bytes.size()) + " " +
                                     test_support::Sha256Hex(bytes) + " clean");
    guard.Disarm();
    EXPECT_FALSE(guard.Fired());
}

} // namespace
