#include "platform/tls_context.h"

#include "platform/exception.h"
#include "platform/tls_connection.h"
#include "platform/tls_internal.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace platform {
namespace {

// Notes every problem of the certificate check on the connection and lets the handshake
// go on: the caller decides what a problem means once the handshake is done.
int NoteVerifyProblem(int ok, X509_STORE_CTX* store) {
    if (ok != 0)
        return 1;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* connection =
        ssl != nullptr ? static_cast<TlsConnection::Impl*>(SSL_get_app_data(ssl)) : nullptr;
    if (connection != nullptr)
        connection->verifyErrors.push_back(X509_STORE_CTX_get_error(store));
    return 1;
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
    // A host may not start a second handshake in the middle of the stream: it would make
    // a write wait for reading, which the socket layer's sending does not expect.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    // A write may take part of what it was offered, and its retry may come from another
    // address (the socket layer sends from its own buffers).
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, NoteVerifyProblem);
    // Sessions are kept by the connections themselves (to be offered on the next connection
    // to the same host), not in a cache of the context.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, KeepNewSession);
    // The system's authorities from its hashed folder, looked up only for the certificate at
    // hand: the bundle file holds the same ones, but reading all of it costs every connection
    // about 20 ms of parsing.
    if (SSL_CTX_set_default_verify_dir(ctx) != 1)
        ERR_clear_error(); // a system without a trust store still takes a CA file
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
