// The TLS client end against a real TLS server on 127.0.0.1 (Python's ssl module), and
// against peers that break the protocol. Every wait is bounded; a step that is still waiting
// when the bound passes is reported as such, never as success.
#include "platform/socket_notifier.h"
#include "platform/tls_file_sender.h"
#include "tests/platform/tls_test_fixture.h"
#include "tests/support/temporary_directory.h"

#include <set>

namespace {

using platform::TlsConnection;
using platform::TlsStep;
using platform::TlsTrustProblem;
using test_support::TlsPeerConfig;
using test_support::TlsTest;
using test_support::TlsTestPeer;

struct VersionCase {
    std::string pinned;   // the peer's highest version
    std::string version;  // what the client reports
    std::string reported; // what the peer reports
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << c.version;
}

class TlsVersionTest : public TlsTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(TlsVersionTest, AgreesTheVersionAndSaysWhatWasAgreed) {
    TlsPeerConfig config = Peer();
    config.maxVersion = GetParam().pinned;
    config.greeting = "220 Ready.\\r\\n";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    Handshake(connection);
    EXPECT_EQ(peer.NextReport(), "HANDSHAKE " + GetParam().reported + " 0");
    EXPECT_EQ(connection.Version(), GetParam().version);
    EXPECT_EQ(connection.Cipher().rfind("TLS_", 0), 0u) << connection.Cipher();
    EXPECT_TRUE(connection.Verification().Trusted()) << connection.Verification().Reasons();
    EXPECT_TRUE(connection.Accepted());
    EXPECT_FALSE(connection.SessionReused());
    EXPECT_EQ(ReadLine(connection), "220 Ready.\r\n");
}

// A data connection must resume the control connection's session: some hosts refuse any
// other. With TLS 1.3 the session arrives only after the handshake, with the first reply.
TEST_P(TlsVersionTest, ResumesTheSessionOfAnEarlierConnection) {
    TlsPeerConfig config = Peer();
    config.maxVersion = GetParam().pinned;
    config.greeting = "220 Ready.\\r\\n";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection control(context, Connect(peer), "127.0.0.1");
    Handshake(control);
    EXPECT_EQ(ReadLine(control), "220 Ready.\r\n");
    for (int data = 0; data < 2; ++data) {
        TlsConnection connection(context, Connect(peer), "127.0.0.1");
        connection.ResumeSessionOf(control);
        Handshake(connection);
        EXPECT_TRUE(connection.SessionReused()) << "connection " << data;
        EXPECT_TRUE(connection.Verification().Trusted());
        Close(connection);
    }
    // Each connection is served on its own, so their reports may interleave.
    std::multiset<std::string> reports;
    for (int i = 0; i < 5; ++i)
        reports.insert(peer.NextReport());
    const std::string handshake = "HANDSHAKE " + GetParam().reported;
    EXPECT_EQ(reports, (std::multiset<std::string>{handshake + " 0", handshake + " 1",
                                                   handshake + " 1", Received(""), Received("")}));
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsVersionTest,
                         ::testing::Values(VersionCase{"1.2", "TLS 1.2", "TLSv1.2"},
                                           VersionCase{"1.3", "TLS 1.3", "TLSv1.3"}));

// A resumed session shows no certificate on the wire; it must not pass for trusted when the
// certificate it was agreed under was not.
TEST_F(TlsTest, AResumedSessionKeepsTheCheckOfItsCertificate) {
    TlsPeerConfig config = Peer("self-signed");
    config.greeting = "220 Ready.\\r\\n";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection control(context, Connect(peer), "127.0.0.1");
    Handshake(control);
    control.Accept();
    EXPECT_EQ(ReadLine(control), "220 Ready.\r\n");

    TlsConnection data(context, Connect(peer), "127.0.0.1");
    data.ResumeSessionOf(control);
    Handshake(data);
    ASSERT_TRUE(data.SessionReused());
    EXPECT_EQ(data.Verification().problems, std::vector{TlsTrustProblem::SelfSigned});
    EXPECT_EQ(data.Verification().certificate.sha256Fingerprint,
              Certificates().Fingerprint("self-signed"));
    EXPECT_FALSE(data.Accepted());
}

struct VerificationCase {
    std::string certificate;
    bool trustTestCa;
    std::string host; // as typed; the connection always goes to 127.0.0.1
    std::vector<TlsTrustProblem> problems;
    std::string reason; // the start of the first reason
};

void PrintTo(const VerificationCase& c, std::ostream* out) {
    *out << c.certificate << (c.trustTestCa ? " (test CA trusted)" : "") << " for " << c.host;
}

class TlsVerificationTest : public TlsTest,
                            public ::testing::WithParamInterface<VerificationCase> {};

TEST_P(TlsVerificationTest, ReportsWhatTheCheckFoundWithoutFailingTheHandshake) {
    const VerificationCase& c = GetParam();
    TlsTestPeer peer(Peer(c.certificate));
    platform::TlsContext context(c.trustTestCa ? TrustingTestCa() : platform::TlsOptions{});
    TlsConnection connection(context, Connect(peer), c.host);
    Handshake(connection);
    const platform::TlsVerification& found = connection.Verification();
    EXPECT_EQ(found.problems, c.problems);
    ASSERT_EQ(found.reasons.size(), c.problems.size());
    if (!c.problems.empty()) {
        EXPECT_EQ(found.reasons.front().rfind(c.reason, 0), 0u) << found.reasons.front();
    }
    EXPECT_EQ(connection.Accepted(), c.problems.empty());
    EXPECT_EQ(found.certificate.sha256Fingerprint, Certificates().Fingerprint(c.certificate));
    EXPECT_NE(found.certificate.subject.find("O = Installer Tests"), std::string::npos)
        << found.certificate.subject;
    const std::string issuer = c.certificate == "self-signed" ? "CN = 127.0.0.1" : "Test CA";
    EXPECT_NE(found.certificate.issuer.find(issuer), std::string::npos) << found.certificate.issuer;
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, TlsVerificationTest,
    ::testing::Values(
        VerificationCase{"host", true, "127.0.0.1", {}, ""},
        VerificationCase{"host", true, "localhost", {}, ""},
        VerificationCase{"host", true, "[::1]", {}, ""},
        VerificationCase{"host",
                         false,
                         "127.0.0.1",
                         {TlsTrustProblem::UnknownIssuer},
                         "The certificate was issued by an authority that is not trusted"},
        VerificationCase{"self-signed",
                         true,
                         "127.0.0.1",
                         {TlsTrustProblem::SelfSigned},
                         "The certificate is self-signed"},
        VerificationCase{"expired",
                         true,
                         "127.0.0.1",
                         {TlsTrustProblem::Expired},
                         "The certificate expired on 2020-12-31 23:59:59 UTC."},
        VerificationCase{"not-yet-valid",
                         true,
                         "127.0.0.1",
                         {TlsTrustProblem::NotYetValid},
                         "The certificate is not valid before 2090-01-01 00:00:00 UTC."},
        VerificationCase{"other-name",
                         true,
                         "127.0.0.1",
                         {TlsTrustProblem::NameMismatch},
                         "The certificate is not made out for 127.0.0.1."},
        VerificationCase{"host",
                         true,
                         "host.invalid",
                         {TlsTrustProblem::NameMismatch},
                         "The certificate is not made out for host.invalid."}));

struct RefusalCase {
    const char* name;
    std::string certificate;
    std::string trusted;    // the CA file: the certificate itself or the authority that signed it
    std::string maxVersion; // the peer's highest version
    std::string ciphers;    // the peer's TLS 1.2 suites (and security level)
    std::string error;      // the whole error, or its start when it ends in "("
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.name;
}

class TlsRefusalTest : public TlsTest, public ::testing::WithParamInterface<RefusalCase> {};

// What no trust may make up for fails the handshake itself, though the certificate's own
// authority (or the certificate itself) is trusted: nobody is left to accept it.
TEST_P(TlsRefusalTest, FailsTheHandshakeWithTheReasonWhateverIsTrusted) {
    const RefusalCase& c = GetParam();
    TlsPeerConfig config = Peer(c.certificate);
    config.maxVersion = c.maxVersion;
    config.ciphers = c.ciphers;
    TlsTestPeer peer(config);
    platform::TlsOptions options;
    options.caFile = Certificates().Pem(c.trusted);
    platform::TlsContext context(options);
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    EXPECT_EQ(Drive(connection, [&] { return connection.Handshake(); }), TlsStep::Failed);
    if (c.error.back() == '(') {
        EXPECT_EQ(connection.Error().rfind(c.error, 0), 0u) << connection.Error();
    } else {
        EXPECT_EQ(connection.Error(), c.error);
    }
    connection.Accept();
    EXPECT_FALSE(connection.Accepted());
    EXPECT_THROW(connection.Write("USER QSECOFR\r\n", 14), platform::ETlsError);
    EXPECT_EQ(peer.NextReport().rfind("FAILED ", 0), 0u); // nothing was agreed
}

constexpr char kNotAcceptable[] = "The host's certificate is not acceptable: ";
constexpr char kPeerSeclevel0[] = "DEFAULT:@SECLEVEL=0"; // lets the peer load a weak certificate

// clang-format off
INSTANTIATE_TEST_SUITE_P(Policy, TlsRefusalTest, ::testing::Values(
    RefusalCase{"KeyTooSmall",       "weak-key",    "weak-key", "",    kPeerSeclevel0, std::string(kNotAcceptable) + "its key is too small (1024-bit RSA)."},
    RefusalCase{"KeyTooSmallTls12",  "weak-key",    "weak-key", "1.2", kPeerSeclevel0, std::string(kNotAcceptable) + "its key is too small (1024-bit RSA)."},
    RefusalCase{"SignedWithSha1",    "sha1-signed", "ca",       "",    kPeerSeclevel0, std::string(kNotAcceptable) + "it is signed with a weak algorithm (SHA-1)."},
    RefusalCase{"ForClientsOnly",    "client-only", "ca",       "",    "",             std::string(kNotAcceptable) + "it is not meant for a server (its extended key usage does not include TLS server authentication)."},
    RefusalCase{"OnlyWeakSuites",    "host",        "ca",       "1.2", "AES128-SHA",   "TLS handshake failed: the host accepted none of the cipher suites offered ("}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(TlsTest, SendsNothingBeforeTheCertificateIsAccepted) {
    TlsTestPeer peer(Peer("self-signed"));
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    Handshake(connection);
    EXPECT_THROW(connection.Write("USER QSECOFR\r\n", 14), platform::ETlsError);
    connection.Accept();
    Send(connection, "NOOP\r\n");
    Close(connection);
    EXPECT_EQ(peer.NextReport(), "HANDSHAKE TLSv1.3 0");
    EXPECT_EQ(peer.NextReport(), Received("NOOP\r\n"));
}

// A reply's lines may come in one record: after the first line is read the second is
// already decrypted, and the socket has nothing more to show for it.
TEST_F(TlsTest, PeekThenReadTakesOneLineAndLeavesTheRestPending) {
    TlsPeerConfig config = Peer();
    config.greeting = "220-first\\r\\n220 second\\r\\n";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    Handshake(connection);
    EXPECT_EQ(ReadLine(connection), "220-first\r\n");
    EXPECT_TRUE(connection.Pending());
    char buffer[64];
    EXPECT_EQ(connection.Peek(buffer, sizeof buffer), 12); // at once, without waiting
    EXPECT_EQ(ReadLine(connection), "220 second\r\n");
    EXPECT_FALSE(connection.Pending());
}

// The socket layer learns of arriving replies through read notifications, which an
// edge-triggered notifier repeats only after the socket was read through the socket calls.
TEST_F(TlsTest, ReadNotificationsKeepComingOverTls) {
    TlsPeerConfig config = Peer();
    config.echo = true;
    TlsTestPeer peer(config);
    int reads = 0;
    platform::MessageWindow window([&reads](platform::WindowMessage& message) {
        if (platform::SelectEvent(message.LParam) == platform::kFdRead)
            ++reads;
    });
    const platform::SocketHandle socket = Connect(peer);
    ASSERT_EQ(platform::AsyncSelect(socket, &window, 1, platform::kFdRead | platform::kFdClose), 0);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, socket, "127.0.0.1");
    Handshake(connection);
    for (int round = 0; round < 3; ++round) {
        const int before = reads;
        Send(connection, "NOOP\r\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (reads == before && std::chrono::steady_clock::now() < deadline)
            platform::WaitForEvents(50);
        EXPECT_GT(reads, before) << "round " << round;
        EXPECT_EQ(ReadLine(connection), "NOOP\r\n");
    }
    platform::AsyncSelect(socket, &window, 1, 0);
}

struct FaultCase {
    std::string mode;
    std::string message;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.mode;
}

class TlsFaultTest : public TlsTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(TlsFaultTest, EndsTheHandshakeWithAClearMessage) {
    TlsPeerConfig config = Peer();
    config.mode = GetParam().mode;
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    EXPECT_EQ(Drive(connection, [&] { return connection.Handshake(); }), TlsStep::Failed);
    EXPECT_EQ(connection.Error().rfind(GetParam().message, 0), 0u) << connection.Error();
    EXPECT_EQ(connection.Handshake(), TlsStep::Failed);
    EXPECT_THROW(connection.Write("x", 1), platform::ETlsError);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TlsFaultTest,
    ::testing::Values(
        FaultCase{"garbage", "TLS handshake failed: the host did not answer with TLS ("},
        FaultCase{"plain", "TLS handshake failed: the host did not answer with TLS ("},
        FaultCase{"close", "TLS handshake failed: the host closed the connection."}));

// The handshake never ends on its own against a host that stops answering: the caller's
// bound ends it, and until then every step just waits.
TEST_F(TlsTest, AStalledHandshakeWaitsForTheCallersBound) {
    TlsPeerConfig config = Peer();
    config.mode = "stall";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    EXPECT_EQ(Drive(
                  connection, [&] { return connection.Handshake(); }, 300),
              TlsStep::WantRead);
}

TEST_F(TlsTest, GarbageAfterTheHandshakeFailsTheReadWithAClearMessage) {
    TlsPeerConfig config = Peer();
    config.mode = "garbage-after-handshake";
    config.greeting = "220 Ready.\\r\\n";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    Handshake(connection);
    EXPECT_EQ(ReadLine(connection), "220 Ready.\r\n");
    char buffer[64];
    try {
        Await(connection, [&] { return connection.Peek(buffer, sizeof buffer); });
        FAIL() << "garbage was taken for data";
    } catch (const platform::ETlsError& error) {
        EXPECT_EQ(std::string(error.what())
                      .rfind("The secured connection failed while receiving: the host sent data "
                             "that is not TLS (",
                             0),
                  0u)
            << error.what();
    }
    EXPECT_THROW(connection.Read(buffer, sizeof buffer), platform::ETlsError);
}

class TlsFileTest : public TlsTest, public ::testing::WithParamInterface<std::size_t> {};

// An upload's bytes through TLS, whole, and a close-notify after them so that the host can
// tell a complete file from a cut connection.
TEST_P(TlsFileTest, ArrivesWholeAndEndsWithACloseNotify) {
    test_support::TemporaryDirectory folder;
    std::string bytes(GetParam(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
    test_support::WriteFile(folder / "upload.bin", bytes);
    TlsTestPeer peer(Peer());
    platform::TlsContext context(TrustingTestCa());
    TlsConnection connection(context, Connect(peer), "127.0.0.1");
    Handshake(connection);
    platform::FileReader file(folder / "upload.bin");
    std::vector<char> staging(64 * 1024);
    platform::TlsFileSender sender(file, connection, staging.data(), staging.size());
    for (;;) {
        const auto rest = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(staging.size()), file.Size() - file.Position()));
        const int sent = Await(connection, [&] { return sender.Send(rest); });
        if (sent <= 0)
            break;
    }
    Close(connection);
    EXPECT_EQ(peer.NextReport(), "HANDSHAKE TLSv1.3 0");
    EXPECT_EQ(peer.NextReport(), Received(bytes));
}

// A busy host may finish its handshake, and send its session tickets, only after the client
// has sent everything; a socket closed by then would meet the tickets with a reset and drop
// what of the upload was still queued. Closing waits for the host's own close.
TEST_F(TlsTest, ClosingWaitsForTheHostSoThatLateSessionTicketsCutNothing) {
    TlsPeerConfig config = Peer();
    config.mode = "late-ticket";
    TlsTestPeer peer(config);
    platform::TlsContext context(TrustingTestCa());
    const platform::SocketHandle socket = Connect(peer);
    TlsConnection connection(context, socket, "127.0.0.1");
    Handshake(connection);
    const std::string bytes(4 * 1024 * 1024, 'x');
    Send(connection, bytes);
    Close(connection);
    CloseSocket(socket);
    EXPECT_EQ(peer.NextReport(), "HANDSHAKE TLSv1.3 0");
    EXPECT_EQ(peer.NextReport(), Received(bytes));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TlsFileTest,
                         ::testing::Values(std::size_t{0}, std::size_t{1},
                                           std::size_t{(1u << 20) + 7}));

TEST_F(TlsTest, RefusesWhatCannotBeUsedWithAClearMessage) {
    test_support::TemporaryDirectory folder;
    test_support::WriteFile(folder / "not-a-certificate.pem", "hello\n");
    for (const std::string& caFile : {folder / "missing.pem", folder / "not-a-certificate.pem"}) {
        platform::TlsOptions options;
        options.caFile = caFile;
        try {
            platform::TlsContext context(options);
            ADD_FAILURE() << caFile << " was taken";
        } catch (const platform::ETlsError& error) {
            EXPECT_EQ(
                std::string(error.what()).rfind("The CA file " + caFile + " cannot be used", 0), 0u)
                << error.what();
        }
    }
    platform::TlsContext context;
    for (const std::string& host : {std::string(), std::string("a\0b", 3), std::string("[]")})
        EXPECT_THROW(TlsConnection(context, platform::kNoSocket, host), platform::ETlsError);
}

} // namespace
