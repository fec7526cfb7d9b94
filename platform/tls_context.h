// The settings that every secured connection to one host shares: which authorities are
// trusted, the lowest and highest TLS version, the policy, and how sessions are kept for
// resumption. The connections themselves are TlsConnection (platform/tls_connection.h).
//
// The policy: OpenSSL's security level 2 (at least); for TLS 1.2 only suites with forward
// secrecy and authenticated encryption (ECDHE or DHE with AES-GCM or ChaCha20-Poly1305), for
// TLS 1.3 OpenSSL's own. A host certificate whose key or signature is below the level, or
// that is not meant for a TLS server, fails the handshake whoever vouches for it: no
// fingerprint trusted before or operator's answer can take it.
#pragma once

#include <memory>
#include <string>

namespace platform {

// The highest version offered. TLS 1.2 is always the lowest.
enum class TlsVersion { Highest, Tls12, Tls13 };

struct TlsOptions {
    // A PEM file of further trusted authorities (beside the system's); empty for none.
    std::string caFile;
    // Pins the highest version, for measuring and testing one version against a server
    // that offers both.
    TlsVersion highest = TlsVersion::Highest;
};

class TlsContext {
public:
    // Trusts the system's authorities (OpenSSL's folder and bundle file, or those that
    // SSL_CERT_DIR and SSL_CERT_FILE name; on Windows the machine's and the user's "ROOT"
    // certificate stores) plus those of options.caFile. Raises ETlsError
    // when the CA file cannot be read or holds no certificate.
    explicit TlsContext(const TlsOptions& options = {});
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    struct Impl;
    Impl& Internals() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
