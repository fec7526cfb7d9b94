// The transport beneath a TlsConnection: OpenSSL's records go through the socket calls of
// socket_api, never past them. So every read of the socket re-arms its read notification
// (an edge-triggered notifier stays silent for a socket that was read behind its back), a
// peer that went away is an error rather than SIGPIPE, and the Windows Sockets number of a
// failure is at hand for the caller's error texts.
#include "platform/tls_internal.h"

#include <openssl/bio.h>
#include <openssl/err.h>

#include <cstring>

namespace platform {
namespace {

TlsConnection::Impl& ConnectionOf(BIO* bio) {
    return *static_cast<TlsConnection::Impl*>(BIO_get_data(bio));
}

int SocketBioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    TlsConnection::Impl& connection = ConnectionOf(bio);
    const int sent = SocketSend(connection.socket, data, length);
    if (sent > 0)
        return sent;
    const int error = sent == 0 ? kWsaEWouldBlock : SocketLastError();
    if (error == kWsaEWouldBlock) {
        BIO_set_retry_write(bio);
        return -1;
    }
    connection.socketError = error;
    return -1;
}

int SocketBioRead(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    TlsConnection::Impl& connection = ConnectionOf(bio);
    const int received = SocketRecv(connection.socket, buffer, length, false);
    if (received > 0)
        return received;
    if (received == 0) {
        connection.endOfStream = true;
        return 0;
    }
    const int error = SocketLastError();
    if (error == kWsaEWouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    connection.socketError = error;
    return -1;
}

long SocketBioControl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
    // Nothing is buffered here, so a flush has nothing to do; everything else is unknown.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketBioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// Made once and kept for the life of the program, as OpenSSL's own methods are.
BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "platform socket");
        if (made != nullptr) {
            BIO_meth_set_write(made, SocketBioWrite);
            BIO_meth_set_read(made, SocketBioRead);
            BIO_meth_set_ctrl(made, SocketBioControl);
            BIO_meth_set_create(made, SocketBioCreate);
        }
        return made;
    }();
    return method;
}

} // namespace

BIO* NewSocketBio(TlsConnection::Impl& connection) {
    BIO_METHOD* method = SocketBioMethod();
    BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
    if (bio != nullptr)
        BIO_set_data(bio, &connection);
    return bio;
}

std::string OpenSslReason() {
    const unsigned long error = ERR_peek_error();
    if (error == 0)
        return "unknown error";
    if (ERR_SYSTEM_ERROR(error))
        return std::strerror(ERR_GET_REASON(error));
    const char* reason = ERR_reason_error_string(error);
    if (reason != nullptr)
        return reason;
    char text[256] = {};
    ERR_error_string_n(error, text, sizeof text);
    return text;
}

bool PeerSpokeNoTls() {
    const unsigned long error = ERR_peek_error();
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(error)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_UNEXPECTED_MESSAGE:
    case SSL_R_BAD_PACKET_LENGTH:
    case SSL_R_WRONG_SSL_VERSION:
        return true;
    default:
        return false;
    }
}

bool UnexpectedEndOfStream() {
    const unsigned long error = ERR_peek_error();
    return ERR_GET_LIB(error) == ERR_LIB_SSL &&
           ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

} // namespace platform
