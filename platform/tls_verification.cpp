// The result of a certificate check in the operator's terms, and the particulars of the
// certificate that a dialog shows and a remembered trust compares.
#include "platform/tls_verification.h"

#include "platform/tls_internal.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

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

// The bits of security that OpenSSL's levels 1 to 5 ask at least of a key or a signature.
int MinimumBits(int level) {
    constexpr int kBits[] = {80, 112, 128, 192, 256};
    return level <= 0 ? 0 : kBits[std::min(level, 5) - 1];
}

// "1024-bit RSA", "256-bit EC".
std::string KeyText(const EVP_PKEY* key) {
    const char* type = EVP_PKEY_get0_type_name(key);
    return std::to_string(EVP_PKEY_get_bits(key)) + "-bit " + (type != nullptr ? type : "key");
}

std::string DigestText(int digest) {
    switch (digest) {
    case NID_sha1:
        return "SHA-1";
    case NID_md5:
        return "MD5";
    case NID_md5_sha1:
        return "MD5 and SHA-1";
    case NID_undef:
        return "an unknown digest";
    default:
        break;
    }
    const char* name = OBJ_nid2sn(digest);
    return name != nullptr ? name : "an unknown digest";
}

// Whether an extended key usage is present and leaves out TLS server authentication.
bool ServerUsageExcluded(X509* certificate) {
    return (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0 &&
           (X509_get_extended_key_usage(certificate) & (XKU_SSL_SERVER | XKU_SGC)) == 0;
}

} // namespace

CertificateRefusal RefusalOf(X509_STORE_CTX* store, int level,
                             const std::vector<int>& verifyErrors) {
    CertificateRefusal refusal;
    const auto refuse = [&refusal](const std::string& reason, int error) {
        refusal.reason += (refusal.reason.empty() ? "" : "; ") + reason;
        if (refusal.error == 0)
            refusal.error = error;
    };
    const int bits = MinimumBits(level);
    // The chain as far as the check could build it; without one, the host's own certificate.
    X509* const leaf = X509_STORE_CTX_get0_cert(store);
    STACK_OF(X509)* const chain = X509_STORE_CTX_get0_chain(store);
    const int length = chain != nullptr ? sk_X509_num(chain) : (leaf != nullptr ? 1 : 0);
    for (int depth = 0; depth < length; ++depth) {
        X509* const certificate = chain != nullptr ? sk_X509_value(chain, depth) : leaf;
        const std::string authority =
            depth == 0 ? "" : "\"" + NameText(X509_get_subject_name(certificate)) + "\"";
        const EVP_PKEY* const key = X509_get0_pubkey(certificate);
        if (key == nullptr || EVP_PKEY_get_security_bits(key) < bits) {
            const std::string size = key != nullptr ? " (" + KeyText(key) + ")" : "";
            if (depth == 0)
                refuse("its key is too small" + size, X509_V_ERR_EE_KEY_TOO_SMALL);
            else
                refuse("the key of the authority " + authority + " in its chain is too small" +
                           size,
                       X509_V_ERR_CA_KEY_TOO_SMALL);
        }
        // The signature of the host's own certificate counts even when it signed it itself (a
        // pinned one); an authority's signature of itself, at the end of the chain, does not.
        const bool anchor =
            depth > 0 && depth == length - 1 && X509_self_signed(certificate, 0) == 1;
        int digest = NID_undef;
        int signatureBits = -1;
        const bool readable =
            X509_get_signature_info(certificate, &digest, nullptr, &signatureBits, nullptr) == 1;
        if (!anchor && (!readable || signatureBits < bits)) {
            const std::string weak = "signed with a weak algorithm (" + DigestText(digest) + ")";
            if (depth == 0)
                refuse("it is " + weak, X509_V_ERR_CA_MD_TOO_WEAK);
            else
                refuse("the certificate of the authority " + authority + " in its chain is " + weak,
                       X509_V_ERR_CA_MD_TOO_WEAK);
        }
        if (depth == 0 && X509_check_purpose(certificate, X509_PURPOSE_SSL_SERVER, 0) == 0) {
            refuse(ServerUsageExcluded(certificate)
                       ? "it is not meant for a server (its extended key usage does not "
                         "include TLS server authentication)"
                       : "it is not meant for a server (its key usage does not allow TLS "
                         "server authentication)",
                   X509_V_ERR_INVALID_PURPOSE);
        } else if (depth > 0 && ServerUsageExcluded(certificate)) {
            refuse("the authority " + authority +
                       " in its chain may not vouch for servers (its extended key usage does "
                       "not include TLS server authentication)",
                   X509_V_ERR_INVALID_PURPOSE);
        }
    }
    // Whatever else the check itself found below the security level.
    for (const int error : verifyErrors) {
        if (refusal.error == 0 &&
            (error == X509_V_ERR_EE_KEY_TOO_SMALL || error == X509_V_ERR_CA_KEY_TOO_SMALL ||
             error == X509_V_ERR_CA_MD_TOO_WEAK))
            refuse(std::string("it is below the required security level (") +
                       X509_verify_cert_error_string(error) + ")",
                   error);
    }
    return refusal;
}

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
