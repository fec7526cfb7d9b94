// Whether a run goes on with the certificate a host showed: only the check's verdict, the
// operator's answer and the fingerprint trusted before for that host and port decide.
#include "installer/procedure/certificate_trust.h"
#include "installer/procedure/remembered_settings.h"
#include "tests/installer/apply_fixture.h"

#include <gtest/gtest.h>

namespace {

using test_support::ApplyTest;

platform::TlsVerification SelfSigned(const std::string& fingerprint) {
    platform::TlsVerification verification;
    verification.problems = {platform::TlsTrustProblem::SelfSigned};
    verification.reasons = {"The certificate is signed by its own key."};
    verification.certificate.subject = "CN = as400.example";
    verification.certificate.sha256Fingerprint = fingerprint;
    return verification;
}

using CertificateTrustTest = ApplyTest;

TEST_F(CertificateTrustTest, OperatorDecidesOnceThenTheSameCertificateIsTakenAndAnotherWarned) {
    const auto trusted = [this](const platform::TlsVerification& verification) {
        return installer::CertificateTrusted(ui, verification, "[::1]", 990, true);
    };
    // A certificate the check trusts needs nobody.
    EXPECT_TRUE(trusted(platform::TlsVerification{}));
    EXPECT_TRUE(ui.certificateQuestions.empty());

    // Stop is remembered as nothing.
    EXPECT_FALSE(trusted(SelfSigned("AA:01")));
    ASSERT_EQ(ui.certificateQuestions.size(), 1u);
    EXPECT_EQ(ui.certificateQuestions[0].host, "[::1]:990");
    EXPECT_FALSE(ui.certificateQuestions[0].identityChanged);
    EXPECT_EQ(installer::TrustedFingerprint(installer::CertificateKey("[::1]", 990)), "");

    ui.trustCertificates = true;
    EXPECT_TRUE(trusted(SelfSigned("AA:01")));
    EXPECT_EQ(installer::TrustedFingerprint("::1/990"), "AA:01");
    ui.trustCertificates = false;
    EXPECT_TRUE(trusted(SelfSigned("AA:01"))); // no question this time
    EXPECT_EQ(ui.certificateQuestions.size(), 2u);

    EXPECT_FALSE(trusted(SelfSigned("BB:02")));
    ASSERT_EQ(ui.certificateQuestions.size(), 3u);
    EXPECT_TRUE(ui.certificateQuestions[2].identityChanged);
    EXPECT_EQ(ui.certificateQuestions[2].trustedFingerprint, "AA:01");
    EXPECT_EQ(installer::TrustedFingerprint("::1/990"), "AA:01");
    // Trusted for one port only.
    EXPECT_FALSE(installer::CertificateTrusted(ui, SelfSigned("AA:01"), "[::1]", 21, true));
}

TEST_F(CertificateTrustTest, WithoutMachineSettingsNothingIsReadOrWritten) {
    installer::TrustFingerprint("host/21", "AA:01");
    ui.trustCertificates = true;
    EXPECT_TRUE(installer::CertificateTrusted(ui, SelfSigned("CC:03"), "host", 21, false));
    ASSERT_EQ(ui.certificateQuestions.size(), 1u);
    EXPECT_FALSE(ui.certificateQuestions[0].identityChanged);
    EXPECT_EQ(installer::TrustedFingerprint("host/21"), "AA:01");
}

} // namespace
