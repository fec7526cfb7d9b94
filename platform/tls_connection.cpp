#include "platform/tls_connection.h"

#include "platform/exception.h"
#include "platform/socket_internal.h"
#include "platform/socket_notifier_hooks.h"
#include "platform/tls_internal.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <array>

namespace platform {
namespace {

// The typed host without the brackets of an IPv6 address ("[::1]" is "::1").
std::string Unbracketed(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

std::string HandshakeFailure(const std::string& why) {
    return "TLS handshake failed: " + why + ".";
}

// Whether the queued error says that the host and this end found no cipher suite in common:
// the host's "handshake failure" alert (what a host whose suites are all refused here sends),
// or a suite chosen that was not offered.
bool NoCommonSuite() {
    const unsigned long error = ERR_peek_error();
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(error)) {
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_WRONG_CIPHER_RETURNED:
        return true;
    default:
        return false;
    }
}

} // namespace

// Keeps every resumable session the host hands out, for the next connection to it.
int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* connection = static_cast<TlsConnection::Impl*>(SSL_get_app_data(ssl));
    if (connection == nullptr || connection->owner == nullptr ||
        SSL_SESSION_is_resumable(session) != 1)
        return 0;
    connection->owner->SettleVerificationForSession();
    connection->sessions->Add(session, connection->owner->Verification());
    return 1; // the store holds the reference that came with the call
}

void TlsSessionStore::Add(SSL_SESSION* session, const TlsVerification& verification) {
    // A handful suffices: a connection uses one, a TLS 1.3 host sends two after each
    // handshake.
    constexpr std::size_t kKept = 8;
    if (entries.size() == kKept)
        entries.erase(entries.begin());
    entries.push_back(Entry{SessionHandle(session), verification});
}

const TlsSessionStore::Entry* TlsSessionStore::Take() {
    if (entries.empty())
        return nullptr;
    if (entries.size() > 1 &&
        SSL_SESSION_get_protocol_version(entries.back().session.get()) >= TLS1_3_VERSION) {
        taken_ = std::move(entries.back());
        entries.pop_back();
        return &taken_;
    }
    return &entries.back();
}

TlsConnection::TlsConnection(TlsContext& context, SocketHandle socket, const std::string& host)
    : socket_(socket), impl_(std::make_unique<Impl>()) {
    const std::string name = Unbracketed(host);
    if (name.empty() || name.find('\0') != std::string::npos)
        throw ETlsError(
            FormatMessage("The host name %s cannot be checked against a certificate.", host));
    impl_->socket = socket;
    impl_->host = name;
    impl_->owner = this;
    // Until the handshake has shown a certificate, nothing is trusted.
    verification_.problems = {TlsTrustProblem::Other};
    verification_.reasons = {"No certificate has been checked yet."};
    ERR_clear_error();
    impl_->ssl = SSL_new(context.Internals().ctx);
    if (impl_->ssl == nullptr)
        throw ETlsError("TLS cannot be started: " + OpenSslReason() + ".");
    SSL* ssl = impl_->ssl;
    SSL_set_app_data(ssl, impl_.get());
    BIO* bio = NewSocketBio(*impl_);
    if (bio == nullptr) {
        SSL_free(ssl);
        throw ETlsError("TLS cannot be started: " + OpenSslReason() + ".");
    }
    SSL_set_bio(ssl, bio, bio);
    SSL_set_connect_state(ssl);
    // The certificate must name what was typed: an address as an address, anything else as
    // a host name (which the host also learns, to choose its certificate).
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) != 1) {
        ERR_clear_error();
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) != 1 ||
            SSL_set_tlsext_host_name(ssl, name.c_str()) != 1) {
            SSL_free(ssl);
            throw ETlsError(
                FormatMessage("The host name %s cannot be checked against a certificate.", host));
        }
    }
}

TlsConnection::~TlsConnection() {
    SSL_free(impl_->ssl); // frees the socket transport too; the socket stays open
}

void TlsConnection::ResumeSessionOf(TlsConnection& earlier) {
    impl_->sessions = earlier.impl_->sessions;
    const TlsSessionStore::Entry* entry = impl_->sessions->Take();
    if (entry == nullptr || secured_ || failed_)
        return;
    if (SSL_set_session(impl_->ssl, entry->session.get()) == 1) {
        impl_->offered = true;
        impl_->offeredVerification = entry->verification;
    }
    ERR_clear_error();
}

TlsStep TlsConnection::Handshake() {
    if (failed_)
        return TlsStep::Failed;
    if (secured_)
        return TlsStep::Done;
    ERR_clear_error();
    impl_->socketError = 0;
    const int result = SSL_connect(impl_->ssl);
    if (result == 1) {
        secured_ = true;
        SettleVerificationForSession();
        return TlsStep::Done;
    }
    switch (SSL_get_error(impl_->ssl, result)) {
    case SSL_ERROR_WANT_READ:
        wantsWrite_ = false;
        return TlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
        wantsWrite_ = true;
        return TlsStep::WantWrite;
    case SSL_ERROR_SYSCALL:
        if (impl_->socketError == kWsaEConnectionReset)
            error_ = HandshakeFailure("the host reset the connection");
        else if (impl_->socketError != 0)
            error_ = HandshakeFailure("the connection failed (socket error " +
                                      std::to_string(impl_->socketError) + ")");
        else
            error_ = HandshakeFailure("the host closed the connection");
        break;
    default:
        if (!impl_->refusal.empty())
            error_ = "The host's certificate is not acceptable: " + impl_->refusal + ".";
        else if (NoCommonSuite())
            error_ = HandshakeFailure(
                "the host accepted none of the cipher suites offered (" + OpenSslReason() +
                "); it may offer only weak ones, while TLS 1.3, or TLS 1.2 with ECDHE or DHE "
                "and AES-GCM or ChaCha20-Poly1305, is required");
        else if (UnexpectedEndOfStream())
            error_ = HandshakeFailure("the host closed the connection");
        else if (PeerSpokeNoTls())
            error_ = HandshakeFailure("the host did not answer with TLS (" + OpenSslReason() + ")");
        else
            error_ = HandshakeFailure(OpenSslReason());
        break;
    }
    ERR_clear_error();
    failed_ = true;
    return TlsStep::Failed;
}

void TlsConnection::SettleVerificationForSession() {
    if (verificationSettled_)
        return;
    verificationSettled_ = true;
    if (impl_->offered && SSL_session_reused(impl_->ssl) == 1) {
        verification_ = impl_->offeredVerification;
        return;
    }
    std::vector<int> errors = impl_->verifyErrors;
    const long result = SSL_get_verify_result(impl_->ssl);
    if (errors.empty() && result != X509_V_OK)
        errors.push_back(static_cast<int>(result)); // never taken as trusted by mistake
    verification_ = MakeVerification(SSL_get0_peer_certificate(impl_->ssl), errors, impl_->host);
}

bool TlsConnection::SessionReused() const {
    return secured_ && SSL_session_reused(impl_->ssl) == 1;
}

std::string TlsConnection::Version() const {
    if (!secured_)
        return {};
    std::string version = SSL_get_version(impl_->ssl); // "TLSv1.3"
    if (version.rfind("TLSv", 0) == 0)
        version.replace(0, 4, "TLS ");
    return version;
}

std::string TlsConnection::Cipher() const {
    const SSL_CIPHER* cipher = secured_ ? SSL_get_current_cipher(impl_->ssl) : nullptr;
    if (cipher == nullptr)
        return {};
    const char* standard = SSL_CIPHER_standard_name(cipher);
    return standard != nullptr ? standard : SSL_CIPHER_get_name(cipher);
}

int TlsConnection::Read(void* buffer, int length) {
    return Transfer(false, false, buffer, length);
}

int TlsConnection::Peek(void* buffer, int length) {
    return Transfer(false, true, buffer, length);
}

int TlsConnection::Write(const void* data, int length) {
    if (!Accepted()) {
        throw ETlsError(secured_ ? "Nothing is sent before the host's certificate is accepted."
                                 : "Nothing is sent before the TLS handshake is complete.");
    }
    return Transfer(true, false, const_cast<void*>(data), length);
}

bool TlsConnection::Pending() const {
    return secured_ && SSL_pending(impl_->ssl) > 0;
}

int TlsConnection::Transfer(bool write, bool peek, void* buffer, int length) {
    if (failed_)
        throw ETlsError(error_);
    if (!secured_)
        throw ETlsError("Nothing is received before the TLS handshake is complete.");
    if (length < 0) {
        detail::SetLastSocketError(kWsaEInvalid);
        return -1;
    }
    if (length == 0)
        return 0;
    ERR_clear_error();
    impl_->socketError = 0;
    int result = 0;
    if (write)
        result = SSL_write(impl_->ssl, buffer, length);
    else if (peek)
        result = SSL_peek(impl_->ssl, buffer, length);
    else
        result = SSL_read(impl_->ssl, buffer, length);
    if (result > 0)
        return result;
    return FailTransfer(result, write ? "sending" : "receiving");
}

int TlsConnection::FailTransfer(int result, const char* doing) {
    switch (SSL_get_error(impl_->ssl, result)) {
    case SSL_ERROR_WANT_READ:
        wantsWrite_ = false;
        detail::SetLastSocketError(kWsaEWouldBlock);
        return -1;
    case SSL_ERROR_WANT_WRITE:
        wantsWrite_ = true;
        detail::SetLastSocketError(kWsaEWouldBlock);
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0; // the host's close-notify
    case SSL_ERROR_SYSCALL:
        ERR_clear_error();
        if (impl_->socketError != 0) {
            detail::SetLastSocketError(impl_->socketError);
            return -1;
        }
        return 0; // the stream ended without a close-notify: closed all the same
    default:
        break;
    }
    if (UnexpectedEndOfStream()) {
        ERR_clear_error();
        return 0;
    }
    error_ = std::string("The secured connection failed while ") + doing + ": " +
             (PeerSpokeNoTls() ? "the host sent data that is not TLS (" + OpenSslReason() + ")"
                               : OpenSslReason()) +
             ".";
    ERR_clear_error();
    failed_ = true;
    throw ETlsError(error_);
}

TlsStep TlsConnection::Shutdown() {
    if (!secured_ || failed_)
        return failed_ ? TlsStep::Failed : TlsStep::Done;
    ERR_clear_error();
    impl_->socketError = 0;
    if (!closeNotifySent_) {
        wantsWrite_ = false;
        const int result = SSL_shutdown(impl_->ssl);
        if (result < 0) {
            switch (SSL_get_error(impl_->ssl, result)) {
            case SSL_ERROR_WANT_WRITE:
                wantsWrite_ = true;
                return TlsStep::WantWrite;
            case SSL_ERROR_WANT_READ:
                wantsWrite_ = false;
                return TlsStep::WantRead;
            default:
                error_ =
                    "The secured connection broke while closing: " +
                    (impl_->socketError != 0 ? "socket error " + std::to_string(impl_->socketError)
                                             : OpenSslReason()) +
                    ".";
                ERR_clear_error();
                failed_ = true;
                return TlsStep::Failed;
            }
        }
        closeNotifySent_ = true;
        // Nothing can follow the close-notify, so the stream ends here too: a host that
        // waits for the end of the stream rather than for the close-notify closes as well.
        detail::ShutdownSending(socket_);
        if (result == 1) {
            closeNotifyReceived_ = true; // it had come already
            return TlsStep::Done;
        }
    }
    // The host's own close-notify, or the end of the stream, ends the wait.
    return DropIncoming() ? TlsStep::Done : TlsStep::WantRead;
}

bool TlsConnection::DropIncoming() {
    std::array<char, 4096> scratch{};
    // A host that keeps sending must not hold the call: after a bounded amount the caller's
    // wait (and its bound) has its turn again.
    for (int round = 0; !closeNotifyReceived_; ++round) {
        if (round == 64) {
            wantsWrite_ = false;
            return false;
        }
        ERR_clear_error();
        const int result = SSL_read(impl_->ssl, scratch.data(), static_cast<int>(scratch.size()));
        if (result > 0)
            continue;
        const int error = SSL_get_error(impl_->ssl, result);
        ERR_clear_error();
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            wantsWrite_ = error == SSL_ERROR_WANT_WRITE;
            return false;
        }
        closeNotifyReceived_ = true; // its close-notify, the end of the stream, or a failure
    }
    return true;
}

} // namespace platform
