// What the TLS files of platform/ share with each other and nobody else: the OpenSSL
// objects behind TlsContext and TlsConnection, the socket transport beneath them, the kept
// sessions, and the texts of OpenSSL's errors.
#pragma once

#include "platform/socket_api.h"
#include "platform/tls_connection.h"
#include "platform/tls_context.h"
#include "platform/tls_verification.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

namespace platform {

struct SslSessionFree {
    void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using SessionHandle = std::unique_ptr<SSL_SESSION, SslSessionFree>;

// Sessions that the host handed out on any of the connections sharing this store, newest
// last, each with the check of the certificate it was agreed under.
struct TlsSessionStore {
    struct Entry {
        SessionHandle session;
        TlsVerification verification;
    };
    std::vector<Entry> entries;

    void Add(SSL_SESSION* session, const TlsVerification& verification);
    // The newest session for a further connection, or none. A TLS 1.3 session may be good
    // for one resumption only, so it leaves the store while an older one remains.
    const Entry* Take();

private:
    Entry taken_; // the last one taken out, kept alive while it is being offered
};

struct TlsContext::Impl {
    SSL_CTX* ctx = nullptr;
};

struct TlsConnection::Impl {
    SSL* ssl = nullptr;
    SocketHandle socket = kNoSocket;
    std::string host;
    // What the socket transport saw: a failure other than "would block" (its Windows
    // Sockets number) and the end of the stream.
    int socketError = 0;
    bool endOfStream = false;
    // Problems that the certificate check reported, in the order it reported them.
    std::vector<int> verifyErrors;
    // Why the host's certificate is refused whatever trust it has (a key too small, a weak
    // signature, not meant for a server); the handshake fails with it. Empty when none.
    std::string refusal;
    std::shared_ptr<TlsSessionStore> sessions = std::make_shared<TlsSessionStore>();
    TlsVerification offeredVerification; // the check under which the offered session was agreed
    bool offered = false;
    TlsConnection* owner = nullptr;
};

// The context's callback for a session that the host handed out (tls_connection.cpp).
int KeepNewSession(SSL* ssl, SSL_SESSION* session);

// Adds the authorities that the system trusts to the context's store (tls_system_trust_posix.cpp,
// tls_system_trust_win.cpp). What cannot be read is left out; nothing is reported.
void TrustSystemAuthorities(SSL_CTX* ctx);

// A BIO that moves the connection's records through SocketSend / SocketRecv, so that the
// socket's notifications are re-armed by every read and a broken peer never raises SIGPIPE.
BIO* NewSocketBio(TlsConnection::Impl& connection);

// The reason of the oldest error that OpenSSL queued, in words ("wrong version number").
std::string OpenSslReason();
// Whether the queued error says that the peer sent something that is not TLS at all.
bool PeerSpokeNoTls();
// Whether the queued error is an end of stream in the middle of a record or handshake.
bool UnexpectedEndOfStream();

// Why a chain that the certificate check has been through (`store`, the leaf first) may not be
// used at OpenSSL's security `level`, whoever vouches for it: a key or a signature below the
// level's bits, or a leaf that is not meant for a TLS server (or an authority barred from
// vouching for one). `reason` reads on from "The host's certificate is not acceptable: ";
// `error` is OpenSSL's verify error for the first problem. Both empty / 0 when acceptable.
struct CertificateRefusal {
    std::string reason;
    int error = 0;
};
CertificateRefusal RefusalOf(X509_STORE_CTX* store, int level,
                             const std::vector<int>& verifyErrors);

// Builds the result of the check from the certificate and the problems the check reported.
TlsVerification MakeVerification(X509* certificate, const std::vector<int>& verifyErrors,
                                 const std::string& host);

} // namespace platform
