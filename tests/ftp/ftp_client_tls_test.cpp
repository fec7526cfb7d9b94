// FTP over TLS against real servers: the host emulator (pyftpdlib's TLS handler) and
// vsftpd set up to insist on session reuse and close-notify. Uploads arrive byte for byte,
// every verification outcome and every failure of a host that gets TLS wrong ends as it
// must, and the server's own record shows that USER and PASS never went out before the
// host was verified.
#include "ftp/ftp_client.h"
#include "tests/support/client_hang_guard.h"
#include "tests/support/helper_process.h"
#include "tests/support/host_emulator.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/sha256.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_peer.h"
#include "tests/support/vsftpd_tls_server.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>

namespace {

using platform::TlsTrustProblem;
using test_support::HostEmulator;
using test_support::TestCertificates;
using test_support::VsftpdTlsServer;

enum class Host { Emulator, Vsftpd };

// One server of either kind with TLS, and what the tests need of it.
class TlsHost {
public:
    TlsHost(Host kind, const TestCertificates& certificates, TFtpSecurity security,
            const std::string& version, const std::string& certificate = "host",
            std::vector<std::string> options = {})
        : kind_(kind) {
        const bool implicit = security == TFtpSecurity::ImplicitTls;
        if (kind == Host::Vsftpd) {
            vsftpd_.emplace(test_support::VsftpdTlsConfig{
                certificates.Pem(certificate), certificates.Key(certificate), implicit, version});
            return;
        }
        test_support::HostEmulatorConfig config;
        config.options = {"--tls",  implicit ? "implicit" : "explicit",
                          "--cert", certificates.Pem(certificate),
                          "--key",  certificates.Key(certificate)};
        if (!version.empty())
            config.options.insert(config.options.end(), {"--tls-max-version", version});
        config.options.insert(config.options.end(), options.begin(), options.end());
        emulator_.emplace(config);
    }

    void Aim(TFtpClient& ftp) const {
        ftp.Host = "127.0.0.1";
        ftp.Port = vsftpd_ ? vsftpd_->Port() : emulator_->Port();
        ftp.UserID = vsftpd_ ? vsftpd_->User() : emulator_->User();
        ftp.Password = vsftpd_ ? vsftpd_->Password() : emulator_->Password();
    }

    std::vector<std::string> Commands() const {
        return vsftpd_ ? vsftpd_->Commands() : emulator_->Commands();
    }

    // Where uploads go: the emulator's library KDXSUPPT, vsftpd's home folder.
    void EnterUploadFolder(TFtpClient& ftp) const {
        if (emulator_)
            ftp.ChangeDir("KDXSUPPT");
    }

    std::optional<std::string> Stored(const std::string& name) const {
        if (emulator_)
            return emulator_->StoredFile("KDXSUPPT", name);
        std::ifstream in(vsftpd_->Home() / name, std::ios::binary);
        if (!in)
            return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string Log() const { return vsftpd_ ? vsftpd_->Log() : emulator_->ErrorOutput(); }

private:
    Host kind_;
    std::optional<HostEmulator> emulator_;
    std::optional<VsftpdTlsServer> vsftpd_;
};

bool SentCredentials(const std::vector<std::string>& commands) {
    return std::any_of(commands.begin(), commands.end(), [](const std::string& command) {
        return command.rfind("USER", 0) == 0 || command.rfind("PASS", 0) == 0;
    });
}

class FtpTlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates_ = std::make_unique<TestCertificates>(); }
    static void TearDownTestSuite() { certificates_.reset(); }

    void SetUp() override {
        ftp.CAFile = certificates_->Pem("ca");
        watchdog.Arm(ftp, 120000);
    }

    void TearDown() override {
        watchdog.ExpectNotFired();
        if (ftp.Connected)
            ftp.Disconnect();
    }

    static const TestCertificates& Certificates() { return *certificates_; }

    // A local file of `size` random bytes.
    std::string LocalFile(const std::string& name, std::size_t size) {
        std::string bytes(size, '\0');
        std::mt19937 random(static_cast<unsigned>(size));
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        const auto path = folder_.Path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    TFtpClient ftp;
    test_support::ClientHangGuard watchdog;

private:
    static inline std::unique_ptr<TestCertificates> certificates_;
    test_support::TemporaryDirectory folder_;
};

// --- uploads ---

struct UploadCase {
    Host host;
    TFtpSecurity security;
    std::string version;
    bool passive;
};

void PrintTo(const UploadCase& c, std::ostream* os) {
    *os << (c.host == Host::Emulator ? "emulator" : "vsftpd") << ", "
        << (c.security == TFtpSecurity::ExplicitTls ? "explicit" : "implicit") << " TLS "
        << c.version << ", " << (c.passive ? "passive" : "active");
}

class FtpTlsUploadTest : public FtpTlsTest, public ::testing::WithParamInterface<UploadCase> {};

TEST_P(FtpTlsUploadTest, ArriveByteForByteOverDataConnectionsThatResumeTheSession) {
    const UploadCase& param = GetParam();
    if (param.host == Host::Vsftpd && !VsftpdTlsServer::Unavailable().empty())
        GTEST_SKIP() << VsftpdTlsServer::Unavailable();
    TlsHost host(param.host, Certificates(), param.security, param.version);
    host.Aim(ftp);
    ftp.Security = param.security;
    ftp.Passive = param.passive;
    ftp.Connect();
    EXPECT_EQ(ftp.TlsVersion(), "TLS " + param.version);
    EXPECT_FALSE(ftp.TlsCipher().empty());
    ftp.Mode(2);
    host.EnterUploadFolder(ftp);

    std::vector<bool> resumed;
    std::int64_t sent = -1;
    ftp.OnTransactionStart = [&](TObject*) {
        resumed.push_back(ftp.FDataConnection->Tls()->SessionReused());
    };
    ftp.OnTransactionStop = [&](TObject*) { sent = ftp.FDataConnection->BytesSent; };
    for (const auto& [name, size] :
         {std::pair<std::string, std::size_t>{"EMPTY", 0}, {"ONEBYTE", 1}, {"LARGE", 10 << 20}}) {
        const std::string local = LocalFile(name, size);
        ftp.Upload(local, name);
        EXPECT_EQ(sent, static_cast<std::int64_t>(size)) << name;
        const std::optional<std::string> stored = host.Stored(name);
        ASSERT_TRUE(stored.has_value()) << name << "\n" << host.Log();
        EXPECT_EQ(test_support::Sha256Hex(*stored), test_support::Sha256OfFile(local)) << name;
    }
    EXPECT_EQ(resumed, std::vector<bool>(3, true));
    ftp.Disconnect();

    // The data connections were protected before the first one was opened.
    const std::vector<std::string> commands = host.Commands();
    std::string record; // kept with the result (--gtest_output=xml) to show what the host saw
    for (const std::string& command : commands)
        record += (record.empty() ? "" : " | ") + command;
    RecordProperty("host_record", record);
    const auto at = [&](const std::string& command) {
        return std::find(commands.begin(), commands.end(), command) - commands.begin();
    };
    const auto firstData =
        std::find_if(commands.begin(), commands.end(),
                     [](const std::string& command) {
                         return command.rfind("PASV", 0) == 0 || command.rfind("PORT", 0) == 0;
                     }) -
        commands.begin();
    EXPECT_LT(at("PBSZ 0"), at("PROT P"));
    EXPECT_LT(at("PROT P"), firstData);
    if (param.security == TFtpSecurity::ExplicitTls) {
        EXPECT_EQ(commands.front(), "AUTH TLS");
    }
}

std::vector<UploadCase> UploadCases() {
    std::vector<UploadCase> cases;
    for (const Host host : {Host::Emulator, Host::Vsftpd})
        for (const TFtpSecurity security : {TFtpSecurity::ExplicitTls, TFtpSecurity::ImplicitTls})
            for (const char* version : {"1.2", "1.3"})
                for (const bool passive : {true, false})
                    cases.push_back({host, security, version, passive});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Hosts, FtpTlsUploadTest, ::testing::ValuesIn(UploadCases()),
                         [](const ::testing::TestParamInfo<UploadCase>& info) {
                             const UploadCase& c = info.param;
                             std::string version = c.version;
                             version.erase(std::remove(version.begin(), version.end(), '.'),
                                           version.end());
                             return std::string(c.host == Host::Emulator ? "Emulator" : "Vsftpd") +
                                    (c.security == TFtpSecurity::ExplicitTls ? "Explicit"
                                                                             : "Implicit") +
                                    "Tls" + version + (c.passive ? "Passive" : "Active");
                         });

// --- the decision on the certificate ---

// Where the authority that signed the host's certificate is trusted: the system's hashed
// folder (SSL_CERT_DIR) or its bundle file (SSL_CERT_FILE) stand in folders of the test's own.
enum class Trust { CaFile, SystemStore, SystemBundle, Nowhere };

struct VerificationCase {
    const char* name;
    const char* certificate;
    Trust trust;
    std::optional<TlsTrustProblem> problem; // what the check finds first; none: trusted
    std::optional<bool> handler;            // what a handler decides; none: no handler
    bool accepted;
};

void PrintTo(const VerificationCase& c, std::ostream* os) {
    *os << c.name << " (" << c.certificate << ", " << (c.accepted ? "accepted" : "refused") << ")";
}

class FtpTlsVerificationTest : public FtpTlsTest,
                               public ::testing::WithParamInterface<VerificationCase> {};

TEST_P(FtpTlsVerificationTest, TheCertificateIsDecidedOnBeforeTheUserNameGoesOut) {
    const VerificationCase& param = GetParam();
    TlsHost host(Host::Emulator, Certificates(), TFtpSecurity::ExplicitTls, "", param.certificate);
    host.Aim(ftp);
    ftp.Security = TFtpSecurity::ExplicitTls;
    ftp.Passive = true;
    if (param.trust != Trust::CaFile)
        ftp.CAFile.clear();
    // The system's trusted authorities, standing in a folder of the test's own.
    test_support::TemporaryDirectory store;
    if (param.trust == Trust::SystemStore) {
        std::filesystem::copy_file(Certificates().Pem("ca"), store.Path() / "ca.pem");
        QProcess rehash;
        test_support::InheritOnlyStandardStreams(rehash);
        rehash.setProcessChannelMode(QProcess::ForwardedChannels);
        rehash.start(QStringLiteral("openssl"),
                     {QStringLiteral("rehash"), QString::fromStdString(store.Path().string())});
        rehash.closeWriteChannel();
        ASSERT_TRUE(rehash.waitForFinished());
        ASSERT_EQ(rehash.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(rehash.exitCode(), 0);
        ::setenv("SSL_CERT_DIR", store.Path().c_str(), 1);
    }
    if (param.trust == Trust::SystemBundle) {
        std::filesystem::copy_file(Certificates().Pem("ca"), store.Path() / "bundle.pem");
        ::setenv("SSL_CERT_FILE", (store.Path() / "bundle.pem").c_str(), 1);
    }
    struct Unset {
        ~Unset() {
            ::unsetenv("SSL_CERT_DIR");
            ::unsetenv("SSL_CERT_FILE");
        }
    } unset;
    int asked = 0;
    if (param.handler) {
        ftp.OnCertificate = [&](TComponent*, const platform::TlsVerification& verification,
                                bool& accept) {
            ++asked;
            EXPECT_EQ(accept, verification.Trusted());
            if (param.problem) {
                ASSERT_FALSE(verification.problems.empty());
                EXPECT_EQ(verification.problems.front(), *param.problem);
            } else {
                EXPECT_TRUE(verification.Trusted()) << verification.Reasons();
            }
            EXPECT_EQ(verification.certificate.sha256Fingerprint,
                      Certificates().Fingerprint(param.certificate));
            accept = *param.handler;
        };
    }
    if (param.accepted) {
        ftp.Connect();
        // The data connection shows the certificate accepted for the control connection.
        ftp.Mode(2);
        host.EnterUploadFolder(ftp);
        const std::string local = LocalFile("ONE", 1);
        ftp.Upload(local, "ONE");
        EXPECT_EQ(test_support::Sha256Hex(host.Stored("ONE").value_or("")),
                  test_support::Sha256OfFile(local));
    } else {
        try {
            ftp.Connect();
            FAIL() << "logged on although the certificate was refused";
        } catch (const FTPException& error) {
            EXPECT_EQ(error.Kind(), FtpErrorKind::CertificateRefused) << error.what();
        }
        EXPECT_FALSE(ftp.Connected);
        EXPECT_FALSE(SentCredentials(host.Commands()));
        EXPECT_EQ(host.Commands(), std::vector<std::string>{"AUTH TLS"});
    }
    EXPECT_EQ(asked, param.handler ? 1 : 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, FtpTlsVerificationTest, ::testing::Values(
    //               name                              certificate    trusted by           the check finds                 handler       accepted
    VerificationCase{"TrustedThroughTheCaFile",        "host",        Trust::CaFile,       std::nullopt,                   std::nullopt, true},
    VerificationCase{"TrustedThroughTheSystemStore",   "host",        Trust::SystemStore,  std::nullopt,                   std::nullopt, true},
    VerificationCase{"TrustedThroughTheSystemBundle",  "host",        Trust::SystemBundle, std::nullopt,                   std::nullopt, true},
    VerificationCase{"TrustedButRefusedByTheHandler",  "host",        Trust::CaFile,       std::nullopt,                   false,        false},
    VerificationCase{"SelfSignedWithoutHandler",       "self-signed", Trust::CaFile,       std::nullopt,                   std::nullopt, false},
    VerificationCase{"SelfSignedAcceptedByTheHandler", "self-signed", Trust::CaFile,       TlsTrustProblem::SelfSigned,    true,         true},
    VerificationCase{"UnknownIssuerRefused",           "host",        Trust::Nowhere,      TlsTrustProblem::UnknownIssuer, false,        false},
    VerificationCase{"UnknownIssuerAccepted",          "host",        Trust::Nowhere,      TlsTrustProblem::UnknownIssuer, true,         true},
    VerificationCase{"ExpiredRefused",                 "expired",     Trust::CaFile,       TlsTrustProblem::Expired,       false,        false},
    VerificationCase{"NameMismatchRefused",            "other-name",  Trust::CaFile,       TlsTrustProblem::NameMismatch,  false,        false}),
    [](const ::testing::TestParamInfo<VerificationCase>& info) { return info.param.name; });
// clang-format on

// --- hosts that get TLS wrong ---

enum class Outcome { SetupFailed, TlsRefused, HandshakeFailed, TimedOut, Canceled };

struct FailureCase {
    const char* name;
    TFtpSecurity security;
    std::vector<std::string> options;
    Outcome outcome;
    bool credentialsSent;         // the failure comes after the log-on
    const char* caFile = nullptr; // instead of the test authority's
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name << " (" << (c.security == TFtpSecurity::ExplicitTls ? "explicit" : "implicit")
        << " TLS)";
}

class FtpTlsFailureTest : public FtpTlsTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FtpTlsFailureTest, EndsTheLogOnWithAClearErrorAndSendsNothingInClear) {
    const FailureCase& param = GetParam();
    TlsHost host(Host::Emulator, Certificates(), param.security, "", "host", param.options);
    host.Aim(ftp);
    ftp.Security = param.security;
    if (param.caFile != nullptr)
        ftp.CAFile = param.caFile;
    ftp.TimeOut = param.outcome == Outcome::TimedOut ? 500 : 0;
    // A stalled handshake without a time-out ends only by a cancel, as the operator's Stop.
    std::optional<test_support::HangGuard> stop;
    if (param.outcome == Outcome::Canceled)
        stop.emplace(300, [this] { ftp.Cancel(); });
    int failures = 0;
    ftp.OnConnectionFailed = [&](TObject*) { ++failures; };
    std::optional<Outcome> outcome;
    std::string message;
    try {
        ftp.Connect();
    } catch (const FTPException& error) {
        message = error.what();
        if (error.Kind() == FtpErrorKind::TlsRefused)
            outcome = Outcome::TlsRefused;
    } catch (const ESockError& error) {
        message = error.what();
        if (error.Kind() == SockErrorKind::TlsSetupFailed)
            outcome = Outcome::SetupFailed;
        else if (error.Kind() == SockErrorKind::TlsHandshakeFailed)
            outcome = Outcome::HandshakeFailed;
        else if (error.Kind() == SockErrorKind::TimedOut)
            outcome = Outcome::TimedOut;
        else if (error.Kind() == SockErrorKind::Canceled)
            outcome = Outcome::Canceled;
    }
    EXPECT_EQ(outcome, param.outcome) << message;
    EXPECT_FALSE(message.empty());
    EXPECT_FALSE(ftp.Connected);
    const std::vector<std::string> commands = host.Commands();
    EXPECT_EQ(SentCredentials(commands), param.credentialsSent);
    EXPECT_TRUE(std::none_of(commands.begin(), commands.end(), [](const std::string& command) {
        return command.rfind("PASV", 0) == 0 || command.rfind("PORT", 0) == 0;
    }));
    if (param.outcome == Outcome::TlsRefused || param.outcome == Outcome::HandshakeFailed) {
        EXPECT_EQ(failures, 1);
    }
    if (param.outcome == Outcome::SetupFailed) {
        EXPECT_TRUE(commands.empty());
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, FtpTlsFailureTest, ::testing::Values(
    // Nothing is sent at all: the file of authorities is read before connecting.
    FailureCase{"UnusableCaFile",                   TFtpSecurity::ExplicitTls, {},                                        Outcome::SetupFailed,     false, "/nonexistent/ca.pem"},
    FailureCase{"AuthTlsRefused",                   TFtpSecurity::ExplicitTls, {"--tls-fault", "refuse-auth"},            Outcome::TlsRefused,      false},
    FailureCase{"AuthTlsAcceptedThenPlainText",     TFtpSecurity::ExplicitTls, {"--tls-fault", "plain-text"},             Outcome::HandshakeFailed, false},
    FailureCase{"ImplicitPlainText",                TFtpSecurity::ImplicitTls, {"--tls-fault", "plain-text"},             Outcome::HandshakeFailed, false},
    FailureCase{"GarbageInsteadOfARecord",          TFtpSecurity::ExplicitTls, {"--tls-fault", "garbage-handshake"},      Outcome::HandshakeFailed, false},
    FailureCase{"ImplicitGarbage",                  TFtpSecurity::ImplicitTls, {"--tls-fault", "garbage-handshake"},      Outcome::HandshakeFailed, false},
    FailureCase{"StalledHandshakeTimesOut",         TFtpSecurity::ExplicitTls, {"--tls-fault", "stall-handshake"},        Outcome::TimedOut,        false},
    FailureCase{"ImplicitStalledHandshakeTimesOut", TFtpSecurity::ImplicitTls, {"--tls-fault", "stall-handshake"},        Outcome::TimedOut,        false},
    FailureCase{"StalledHandshakeCanceled",         TFtpSecurity::ExplicitTls, {"--tls-fault", "stall-handshake"},        Outcome::Canceled,        false},
    FailureCase{"PbszRefused",                      TFtpSecurity::ExplicitTls, {"--reply-to", "PBSZ", "500 Unknown."},    Outcome::TlsRefused,      true},
    FailureCase{"ProtRefused",                      TFtpSecurity::ImplicitTls, {"--reply-to", "PROT", "534 Not allowed."}, Outcome::TlsRefused,      true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });
// clang-format on

// A secured connection that breaks (here: bytes that are no TLS record after the greeting)
// is a lost connection, reported as such, never a reply.
TEST_F(FtpTlsTest, ARecordThatIsNotTlsLosesTheConnection) {
    test_support::TlsPeerConfig config;
    config.mode = "garbage-after-handshake";
    config.cert = Certificates().Pem("host");
    config.key = Certificates().Key("host");
    config.greeting = "220 Ready.\\r\\n";
    test_support::TlsTestPeer peer(config);
    ftp.Host = "127.0.0.1";
    ftp.Port = peer.Port();
    ftp.UserID = "user";
    ftp.Password = "secret";
    ftp.Security = TFtpSecurity::ImplicitTls;
    try {
        ftp.Connect();
        FAIL() << "logged on over a broken connection";
    } catch (const ESockError& error) {
        EXPECT_EQ(error.Kind(), SockErrorKind::TlsFailed) << error.what();
    }
    EXPECT_TRUE(ftp.ConnectionLost());
}

// --- a refused STOR ---

struct RefusedStoreCase {
    Host host;
    bool passive;
};

void PrintTo(const RefusedStoreCase& c, std::ostream* os) {
    *os << (c.host == Host::Emulator ? "emulator" : "vsftpd") << ", "
        << (c.passive ? "passive" : "active");
}

class FtpTlsRefusedStoreTest : public FtpTlsTest,
                               public ::testing::WithParamInterface<RefusedStoreCase> {};

// A host that refuses STOR never secures the data connection: the refusal is read while the
// handshake waits, and the next command gets its own reply.
TEST_P(FtpTlsRefusedStoreTest, IsReportedAndLeavesNoReplyUnread) {
    const RefusedStoreCase& param = GetParam();
    if (param.host == Host::Vsftpd && !VsftpdTlsServer::Unavailable().empty())
        GTEST_SKIP() << VsftpdTlsServer::Unavailable();
    TlsHost host(param.host, Certificates(), TFtpSecurity::ExplicitTls, "", "host",
                 {"--reply-to", "STOR", "550 Not allowed here."});
    host.Aim(ftp);
    ftp.Security = TFtpSecurity::ExplicitTls;
    ftp.Passive = param.passive;
    ftp.Connect();
    ftp.Mode(2);
    const std::string local = LocalFile("refused", 100);
    // vsftpd cannot create a file in a folder that does not exist.
    try {
        ftp.Upload(local, "missing/refused");
        FAIL() << "the upload succeeded";
    } catch (const FTPException& error) {
        EXPECT_EQ(error.Kind(), FtpErrorKind::FailureReply);
        EXPECT_EQ(std::string(error.what()).substr(0, 1), "5") << error.what();
    }
    EXPECT_FALSE(ftp.FDataConnection);
    ASSERT_TRUE(ftp.Connected);
    ftp.DoCommand("TYPE I");
    EXPECT_EQ(ftp.ReplyNumber, 200);
}

INSTANTIATE_TEST_SUITE_P(Hosts, FtpTlsRefusedStoreTest,
                         ::testing::Values(RefusedStoreCase{Host::Emulator, true},
                                           RefusedStoreCase{Host::Emulator, false},
                                           RefusedStoreCase{Host::Vsftpd, true},
                                           RefusedStoreCase{Host::Vsftpd, false}),
                         [](const ::testing::TestParamInfo<RefusedStoreCase>& info) {
                             return std::string(info.param.host == Host::Emulator ? "Emulator"
                                                                                  : "Vsftpd") +
                                    (info.param.passive ? "Passive" : "Active");
                         });

} // namespace
