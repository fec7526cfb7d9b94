// Whole runs of the apply procedure over TLS against the host emulator: the certificate
// checked against the package's CA file, or put to the operator once and then remembered
// for that host and port; nothing of the log-on sent to a host that was not trusted.
#include "tests/installer/apply_fixture.h"
#include "tests/support/test_certificates.h"

#include "installer/remembered_settings.h"

#include <gmock/gmock.h>

namespace {

using test_support::ApplyTest;
using test_support::LockCheckBytes;
using test_support::UpdateBytes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
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
