#include "platform/tls_context.h"

#include "platform/exception.h"
#include "platform/tls_connection.h"
#include "platform/tls_internal.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>

namespace platform {
namespace {

// OpenSSL's security level 2: keys and signatures of at least 112 bits (RSA and DH 2048,
// ECC 224, no SHA-1 or MD5 signatures). A system that asks for more keeps its own.
constexpr int kSecurityLevel = 2;

// TLS 1.2: forward secrecy and authenticated encryption only, ECDHE or DHE with AES-GCM or
// ChaCha20-Poly1305. TLS 1.3 offers OpenSSL's own suites, all of that kind.
constexpr const char* kTls12Suites =
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305:DHE-RSA-AES128-GCM-SHA256";

TlsConnection::Impl* ConnectionOf(X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return ssl != nullptr ? static_cast<TlsConnection::Impl*>(SSL_get_app_data(ssl)) : nullptr;
}

// Notes every problem of the certificate check on the connection and lets the handshake
// go on: the caller decides what a problem means once the handshake is done.
int NoteVerifyProblem(int ok, X509_STORE_CTX* store) {
    if (ok != 0)
        return 1;
    TlsConnection::Impl* connection = ConnectionOf(store);
    if (connection != nullptr)
        connection->verifyErrors.push_back(X509_STORE_CTX_get_error(store));
    return 1;
}

// The check of the host's chain: OpenSSL's (its problems noted, above), then what no trust
// may make up for, which fails the handshake there and then, with the reason kept for the
// connection's error.
int CheckChain(X509_STORE_CTX* store, void*) {
    const int verified = X509_verify_cert(store);
    TlsConnection::Impl* connection = ConnectionOf(store);
    if (connection == nullptr || connection->ssl == nullptr)
        return verified;
    const CertificateRefusal refusal =
        RefusalOf(store, SSL_get_security_level(connection->ssl), connection->verifyErrors);
    if (refusal.error == 0)
        return verified;
    connection->refusal = refusal.reason;
    X509_STORE_CTX_set_error(store, refusal.error); // also chooses the alert the host gets
    return 0;
}

int Version(TlsVersion version) {
    switch (version) {
    case TlsVersion::Tls12:
        return TLS1_2_VERSION;
    case TlsVersion::Tls13:
        return TLS1_3_VERSION;
    case TlsVersion::Highest:
        break;
    }
    return 0; // the highest the library knows
}

} // namespace

TlsContext::TlsContext(const TlsOptions& options) : impl_(std::make_unique<Impl>()) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr)
        throw ETlsError("TLS cannot be started: " + OpenSslReason() + ".");
    impl_->ctx = ctx;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, Version(options.highest));
    SSL_CTX_set_security_level(ctx, std::max(SSL_CTX_get_security_level(ctx), kSecurityLevel));
    if (SSL_CTX_set_cipher_list(ctx, kTls12Suites) != 1) {
        const std::string reason = OpenSslReason();
        SSL_CTX_free(ctx);
        impl_->ctx = nullptr;
        throw ETlsError("TLS cannot be started: " + reason + ".");
    }
    // A host may not start a second handshake in the middle of the stream: it would make
    // a write wait for reading, which the socket layer's sending does not expect.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    // A write may take part of what it was offered, and its retry may come from another
    // address (the socket layer sends from its own buffers).
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, NoteVerifyProblem);
    SSL_CTX_set_cert_verify_callback(ctx, CheckChain, nullptr);
    // Sessions are kept by the connections themselves (to be offered on the next connection
    // to the same host), not in a cache of the context.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, KeepNewSession);
    TrustSystemAuthorities(ctx);
    if (!options.caFile.empty()) {
        if (options.caFile.find('\0') != std::string::npos ||
            SSL_CTX_load_verify_locations(ctx, options.caFile.c_str(), nullptr) != 1) {
            const std::string reason = OpenSslReason();
            SSL_CTX_free(ctx);
            impl_->ctx = nullptr;
            throw ETlsError(FormatMessage("The CA file %s cannot be used", options.caFile) +
                            (reason.empty() ? "." : ": " + reason + "."));
        }
    }
}

TlsContext::~TlsContext() {
    if (impl_->ctx != nullptr)
        SSL_CTX_free(impl_->ctx);
}

} // namespace platform
