// Whole runs of the apply procedure over TLS against the host emulator: the certificate
// checked against the package's CA file, or put to the operator once and then remembered
// for that host and port; nothing of the log-on sent to a host that was not trusted.
#include "tests/installer/apply_fixture.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_peer.h"

#include "installer/procedure/remembered_settings.h"

#include <gmock/gmock.h>

namespace {

using test_support::ApplyTest;
using test_support::LockCheckBytes;
using test_support::UpdateBytes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

class ApplyTlsTest : public ApplyTest {
protected:
    void StartTlsHost(const std::string& mode, const std::string& certificate) {
        StartHost({"--tls", mode, "--cert", certificates.Pem(certificate), "--key",
                   certificates.Key(certificate), "--save-file", "KDXSUPPT/W_CHKLCKSF"});
        StandardDescriptor();
        Load();
        FillFields();
        ui.connection.security = mode == "explicit" ? installer::SecurityChoice::Tls
                                                    : installer::SecurityChoice::ImplicitTls;
    }

    bool LoggedSecured() const {
        return std::any_of(ui.log.begin(), ui.log.end(), [](const std::string& line) {
            return line.rfind("Secured with TLS 1.", 0) == 0 && line.back() == '.';
        });
    }

    test_support::TestCertificates certificates;
};

class ApplyTlsModes : public ApplyTlsTest, public testing::WithParamInterface<const char*> {};

TEST_P(ApplyTlsModes, CertificateOfThePackagesAuthorityIsTrustedAndTheUpdateApplied) {
    const std::string mode = GetParam();
    StartTlsHost(mode, "host");
    ui.connection.caFile = certificates.Pem("ca");
    Apply();
    EXPECT_THAT(ui.log, Contains("Update MYUPD successfully applied."));
    ASSERT_GE(ui.log.size(), 3u);
    EXPECT_THAT(ui.log[2], StartsWith("Secured with TLS 1."));
    EXPECT_THAT(ui.certificateQuestions, IsEmpty());
    const auto commands = HostCommands();
    ASSERT_GE(commands.size(), 4u);
    const std::vector<std::string> logOn(commands.begin(), commands.begin() + 4);
    if (mode == "explicit")
        EXPECT_THAT(logOn,
                    ElementsAre("AUTH TLS", "USER QSECOFR", "PASS " + host->Password(), "PBSZ 0"));
    else
        EXPECT_THAT(logOn,
                    ElementsAre("USER QSECOFR", "PASS " + host->Password(), "PBSZ 0", "PROT P"));
    EXPECT_TRUE(host->StoredFile("KDXSUPPT", "W_CHKLCKSF") == LockCheckBytes());
    EXPECT_TRUE(host->StoredFile("KDXSUPPT", "MYUPD") == UpdateBytes());
    EXPECT_THAT(reports, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(ExplicitAndImplicit, ApplyTlsModes,
                         testing::Values("explicit", "implicit"));

TEST_F(ApplyTlsTest, UnknownCertificateIsPutToTheOperatorOnceAndRememberedForItsHostAndPort) {
    StartTlsHost("explicit", "self-signed");
    // Stop: the run ends before USER, and nothing is remembered.
    Apply();
    ASSERT_EQ(ui.certificateQuestions.size(), 1u);
    EXPECT_EQ(ui.certificateQuestions[0].fingerprint, certificates.Fingerprint("self-signed"));
    EXPECT_FALSE(ui.certificateQuestions[0].identityChanged);
    EXPECT_THAT(HostCommands(), ElementsAre("AUTH TLS"));
    EXPECT_FALSE(LoggedSecured());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], StartsWith("The certificate of 127.0.0.1 was not accepted."));

    // Trusted: the update is applied, and the next run asks nothing.
    ui.trustCertificates = true;
    Apply();
    EXPECT_THAT(ui.log, Contains("Update MYUPD successfully applied."));
    EXPECT_TRUE(LoggedSecured());
    EXPECT_EQ(installer::TrustedFingerprint(installer::CertificateKey("127.0.0.1", host->Port())),
              certificates.Fingerprint("self-signed"));
    ui.trustCertificates = false;
    ui.replace = true;
    Apply();
    EXPECT_EQ(ui.certificateQuestions.size(), 2u);
    EXPECT_THAT(ui.log, Contains("Update MYUPD successfully applied."));
}

struct RefusalCase {
    const char* name;
    const char* certificate;
    std::string ciphers; // the host's TLS 1.2 suites (and security level)
    std::string maxVersion;
    const char* reason; // in the report
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.name;
}

class ApplyTlsRefusalTest : public ApplyTest, public testing::WithParamInterface<RefusalCase> {
protected:
    // One set of certificates for the whole table.
    static void SetUpTestSuite() {
        certificates_ = std::make_unique<test_support::TestCertificates>();
    }
    static void TearDownTestSuite() { certificates_.reset(); }

    static inline std::unique_ptr<test_support::TestCertificates> certificates_;
};

// A certificate trusted before for this host and port, with an operator who would trust it
// again: what no trust makes up for ends the run without a question, saying why.
TEST_P(ApplyTlsRefusalTest, EndsTheRunWithoutAQuestionThoughTrustedBefore) {
    const RefusalCase& c = GetParam();
    const test_support::TestCertificates& certificates = *certificates_;
    test_support::TlsPeerConfig config;
    config.cert = certificates.Pem(c.certificate);
    config.key = certificates.Key(c.certificate);
    config.ciphers = c.ciphers;
    config.maxVersion = c.maxVersion;
    test_support::TlsTestPeer peer(config);
    StandardDescriptor();
    Load();
    ui.fields[installer::ApplyField::SystemEdt] = "127.0.0.1:" + std::to_string(peer.Port());
    ui.fields[installer::ApplyField::UserIdEdt] = "QSECOFR";
    ui.fields[installer::ApplyField::PassEdt] = "Secret1";
    ui.fields[installer::ApplyField::TargetLibEdt] = "QGPL";
    ui.connection.security = installer::SecurityChoice::ImplicitTls;
    installer::TrustFingerprint(installer::CertificateKey("127.0.0.1", peer.Port()),
                                certificates.Fingerprint(c.certificate));
    ui.trustCertificates = true;
    Apply();
    EXPECT_THAT(ui.certificateQuestions, IsEmpty());
    EXPECT_THAT(ui.log, Not(Contains(StartsWith("Secured with"))));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr(c.reason));
    EXPECT_THAT(peer.NextReport(), StartsWith("FAILED ")); // nothing was agreed, nothing sent
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Policy, ApplyTlsRefusalTest, testing::Values(
    RefusalCase{"KeyTooSmall",    "weak-key",    "DEFAULT:@SECLEVEL=0", "",    "The host's certificate is not acceptable: its key is too small (1024-bit RSA)."},
    RefusalCase{"SignedWithSha1", "sha1-signed", "DEFAULT:@SECLEVEL=0", "",    "The host's certificate is not acceptable: it is signed with a weak algorithm (SHA-1)."},
    RefusalCase{"ForClientsOnly", "client-only", "",                    "",    "The host's certificate is not acceptable: it is not meant for a server"},
    RefusalCase{"OnlyWeakSuites", "host",        "AES128-SHA",          "1.2", "TLS handshake failed: the host accepted none of the cipher suites offered"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ApplyTlsTest, ImplicitTlsWithoutATypedPortGoesToPort990) {
    StartHost();
    StandardDescriptor();
    Load();
    FillFields();
    ui.fields[installer::ApplyField::SystemEdt] = "127.0.0.1";
    ui.connection.security = installer::SecurityChoice::ImplicitTls;
    Apply(); // nothing listens there: the attempt is refused at once
    EXPECT_EQ(ftp->Port, 990);
    EXPECT_EQ(ui.log[1], "Connecting to: 127.0.0.1");
}

} // namespace
