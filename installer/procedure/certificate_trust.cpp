#include "installer/procedure/certificate_trust.h"

#include "installer/procedure/apply_observer.h"
#include "installer/procedure/remembered_settings.h"

namespace installer {

std::string CertificateQuestionText(const CertificateQuestion& question) {
    std::string text;
    if (question.identityChanged) {
        text = "WARNING: the identity of the AS/400 at " + question.host +
               " has changed.\n\nIt shows another certificate than the one trusted for it "
               "before. Someone may be between this PC and the AS/400 to capture the "
               "password. Stop unless the AS/400's administrator has told you that its "
               "certificate was replaced.\n\nTrusted before: " +
               question.trustedFingerprint + "\n";
    } else {
        text = "The certificate of the AS/400 at " + question.host + " could not be verified.\n";
    }
    for (const std::string& reason : question.reasons)
        text += "\n" + reason;
    text += "\n\nSubject: " + question.subject + "\nIssuer: " + question.issuer +
            "\nValid from: " + question.validFrom + "\nValid until: " + question.validUntil +
            "\nSHA-256 fingerprint: " + question.fingerprint +
            "\n\nTrust this certificate only when its fingerprint is the one the AS/400's "
            "administrator gave you. It is then remembered for this AS/400.";
    return text;
}

bool CertificateTrusted(ApplyObserver& observer, const platform::TlsVerification& verification,
                        const std::string& host, int port, bool machineSettings) {
    if (verification.Trusted())
        return true;
    const platform::TlsCertificateInfo& certificate = verification.certificate;
    const std::string key = CertificateKey(host, port);
    const std::string trusted = machineSettings ? TrustedFingerprint(key) : std::string();
    if (!trusted.empty() && trusted == certificate.sha256Fingerprint)
        return true;

    CertificateQuestion question;
    question.host = host + ":" + std::to_string(port);
    question.reasons = verification.reasons;
    question.subject = certificate.subject;
    question.issuer = certificate.issuer;
    question.validFrom = certificate.validFrom;
    question.validUntil = certificate.validUntil;
    question.fingerprint = certificate.sha256Fingerprint;
    question.identityChanged = !trusted.empty();
    question.trustedFingerprint = trusted;
    if (!observer.ConfirmCertificate(question))
        return false;
    if (machineSettings)
        TrustFingerprint(key, certificate.sha256Fingerprint);
    return true;
}

} // namespace installer
