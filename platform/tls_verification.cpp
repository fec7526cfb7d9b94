// The result of a certificate check in the operator's terms, and the particulars of the
// certificate that a dialog shows and a remembered trust compares.
#include "platform/tls_verification.h"

#include "platform/tls_internal.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace platform {
namespace {

TlsTrustProblem ProblemOf(int verifyError) {
    switch (verifyError) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return TlsTrustProblem::SelfSigned;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: // a root sent along that nobody here trusts
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return TlsTrustProblem::UnknownIssuer;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TlsTrustProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TlsTrustProblem::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TlsTrustProblem::NameMismatch;
    default:
        return TlsTrustProblem::Other;
    }
}

// Only printable ASCII reaches a window or a log line: a certificate is the host's text.
std::string Printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '?';
    return text;
}

std::string NameText(const X509_NAME* name) {
    if (name == nullptr)
        return {};
    BIO* out = BIO_new(BIO_s_mem());
    if (out == nullptr)
        return {};
    // One line, "O = Example, CN = host"; bytes outside ASCII and control characters escaped.
    X509_NAME_print_ex(out, name, 0, XN_FLAG_ONELINE);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string text = length > 0 ? std::string(data, static_cast<std::size_t>(length)) : "";
    BIO_free(out);
    return Printable(text);
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return "unknown";
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string Fingerprint(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += byte;
    }
    return text;
}

std::string ReasonOf(TlsTrustProblem problem, int verifyError, const TlsCertificateInfo& info,
                     const std::string& host) {
    switch (problem) {
    case TlsTrustProblem::SelfSigned:
        return "The certificate is self-signed: no authority vouches for it.";
    case TlsTrustProblem::UnknownIssuer:
        return "The certificate was issued by an authority that is not trusted here.";
    case TlsTrustProblem::Expired:
        return "The certificate expired on " + info.validUntil + ".";
    case TlsTrustProblem::NotYetValid:
        return "The certificate is not valid before " + info.validFrom + ".";
    case TlsTrustProblem::NameMismatch:
        return "The certificate is not made out for " + Printable(host) + ".";
    case TlsTrustProblem::Other:
        break;
    }
    return std::string("The certificate cannot be verified: ") +
           X509_verify_cert_error_string(verifyError) + ".";
}

} // namespace

std::string TlsVerification::Reasons() const {
    std::string text;
    for (const std::string& reason : reasons)
        text += (text.empty() ? "" : " ") + reason;
    return text;
}

TlsVerification MakeVerification(X509* certificate, const std::vector<int>& verifyErrors,
                                 const std::string& host) {
    TlsVerification result;
    if (certificate == nullptr) {
        result.problems.push_back(TlsTrustProblem::Other);
        result.reasons.push_back("The host sent no certificate.");
        return result;
    }
    TlsCertificateInfo& info = result.certificate;
    info.subject = NameText(X509_get_subject_name(certificate));
    info.issuer = NameText(X509_get_issuer_name(certificate));
    info.validFrom = TimeText(X509_get0_notBefore(certificate));
    info.validUntil = TimeText(X509_get0_notAfter(certificate));
    info.sha256Fingerprint = Fingerprint(certificate);

    // One reason per kind of problem, the most telling kind first.
    std::vector<std::pair<TlsTrustProblem, int>> found;
    for (const int error : verifyErrors) {
        const TlsTrustProblem problem = ProblemOf(error);
        const bool known = std::any_of(found.begin(), found.end(),
                                       [problem](const auto& f) { return f.first == problem; });
        if (!known)
            found.emplace_back(problem, error);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [problem, error] : found) {
        result.problems.push_back(problem);
        result.reasons.push_back(ReasonOf(problem, error, info, host));
    }
    return result;
}

} // namespace platform
