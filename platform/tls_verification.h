// What checking a host's certificate found: whether the chain leads to a trusted authority,
// whether the dates hold and whether it names the host that was typed; and the certificate's
// own particulars, so that the operator can be shown them and a certificate trusted once can
// be recognised again by its fingerprint. A certificate that no trust may make up for (a key
// too small, a weak signature, not meant for a server) never gets this far: the handshake
// fails with the reason (TlsContext).
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class TlsTrustProblem {
    SelfSigned,    // signed by its own key, by no authority
    UnknownIssuer, // its chain leads to no trusted authority
    Expired,
    NotYetValid,
    NameMismatch, // made out for another host than the one typed
    Other,        // anything else the check refused (a signature that does not verify, ...)
};

struct TlsCertificateInfo {
    std::string subject; // e.g. "O = Example, CN = host.example.com", printable ASCII only
    std::string issuer;
    std::string validFrom; // "2024-01-31 12:00:00 UTC"
    std::string validUntil;
    std::string sha256Fingerprint; // "AA:BB:...:FF", 32 bytes in upper-case hex
};

struct TlsVerification {
    // Every problem found, the most telling first (in the order of TlsTrustProblem); empty
    // when the certificate is trusted.
    std::vector<TlsTrustProblem> problems;
    // One sentence per problem, in the same order, for the operator.
    std::vector<std::string> reasons;
    TlsCertificateInfo certificate;

    bool Trusted() const { return problems.empty(); }
    // The reasons in one line, separated by spaces; empty when trusted.
    std::string Reasons() const;
};

} // namespace platform
