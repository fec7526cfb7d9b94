// The client end of a TLS connection over a socket of the socket layer: connected,
// non-blocking, its waits pumping events. Nothing here blocks: the handshake advances one
// step per call, and every call that cannot go on says whether it waits for the socket to
// become readable or writable, so that the caller's own wait (bounded, cancellable) can
// wait for exactly that and call again.
//
// The certificate check fails the handshake by itself only for a certificate that no trust
// may make up for (see TlsContext; Error() names the reason). Otherwise the caller sees what
// it found (Verification) and decides, for example by a fingerprint trusted earlier or by
// asking the operator. Until the certificate is trusted or accepted, nothing can be written.
//
// Reading mirrors the socket calls: Peek copies without removing, Read removes, and bytes
// already decrypted wait inside the connection (Pending) where the socket shows nothing.
#pragma once

#include "platform/socket_api.h"
#include "platform/tls_context.h"
#include "platform/tls_verification.h"

#include <memory>
#include <string>

// OpenSSL's own types, named only to let its session callback in.
struct ssl_st;
struct ssl_session_st;

namespace platform {

enum class TlsStep {
    Done,
    WantRead,  // call again once the socket is readable
    WantWrite, // call again once the socket has room
    Failed,    // see Error()
};

class TlsConnection {
public:
    // The client end over `socket`, which is connected and non-blocking (registered with
    // AsyncSelect) and stays the caller's to close, after this object is gone. `host` is the
    // name or address that the operator typed (an IPv6 address with or without brackets);
    // the certificate must be made out for it. Raises ETlsError for a host text that cannot
    // be checked against a certificate (empty, or holding a NUL).
    TlsConnection(TlsContext& context, SocketHandle socket, const std::string& host);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // Before the first Handshake step: offers a session that `earlier` agreed with the same
    // host (a data connection resumes its control connection's), and shares with it the
    // sessions that either receives later. Does nothing when `earlier` has received none.
    // With TLS 1.3 the host sends its sessions after the handshake; they are taken in as
    // soon as anything is read from `earlier`.
    void ResumeSessionOf(TlsConnection& earlier);

    // One step of the handshake; after Done or Failed it returns the same again.
    TlsStep Handshake();
    // Why the handshake or a later call failed, for the operator.
    const std::string& Error() const { return error_; }

    // After Done: what the check of the host's certificate found. A resumed session reports
    // the check of the connection that first agreed it.
    const TlsVerification& Verification() const { return verification_; }
    // The caller trusts the certificate although the check found problems.
    void Accept() { accepted_ = true; }
    // Whether anything may be written: the handshake is done and the certificate was trusted
    // by the check or accepted by the caller.
    bool Accepted() const { return secured_ && (accepted_ || verification_.Trusted()); }

    // After Done: whether the host took up the offered session, the version ("TLS 1.3") and
    // the cipher's standard name ("TLS_AES_256_GCM_SHA384").
    bool SessionReused() const;
    std::string Version() const;
    std::string Cipher() const;

    // As SocketRecv / SocketSend: the count (above 0); 0 when the host has closed (Read,
    // Peek); -1 with the number for SocketLastError(), which is kWsaEWouldBlock when the
    // call must wait (WantsWrite says for what), else the socket's own failure. A record
    // that is not valid TLS, or an alert from the host, raises ETlsError. Writing before the
    // certificate is accepted raises ETlsError and sends nothing. After a Write that would
    // block, the next Write must offer at least the same bytes again.
    int Read(void* buffer, int length);
    int Peek(void* buffer, int length);
    int Write(const void* data, int length);

    // Bytes already decrypted and waiting to be read: while there are any, a wait for the
    // socket to become readable may never end although Read would return at once.
    bool Pending() const;
    // Whether the last call that could not go on waits for room (else for data to read).
    bool WantsWrite() const { return wantsWrite_; }

    // Ends the connection with a close-notify (and the end of the stream after it), then
    // waits for the host's own close-notify or the end of the stream, dropping whatever else
    // comes (a TLS 1.3 host's sessions).
    // Only then may the socket be closed: a host may send its sessions late, after the last
    // byte of an upload, and anything that arrives at a closed socket resets the connection,
    // which drops whatever of the upload is still on its way. WantRead / WantWrite as for the
    // handshake; the caller bounds the wait (a host that never closes holds it to the bound).
    // Failed when the connection broke before the close-notify went out (Error()).
    TlsStep Shutdown();

    SocketHandle Socket() const { return socket_; }

    struct Impl;

private:
    friend int KeepNewSession(::ssl_st* ssl, ::ssl_session_st* session);

    int Transfer(bool write, bool peek, void* buffer, int length);
    int FailTransfer(int result, const char* doing);
    // Fixes what Verification reports, once the certificate (or the resumed session) is known.
    void SettleVerificationForSession();
    // Reads and drops what has arrived (a bounded amount per call); true once nothing more
    // can come.
    bool DropIncoming();

    SocketHandle socket_;
    std::unique_ptr<Impl> impl_;
    std::string error_;
    TlsVerification verification_;
    bool verificationSettled_ = false;
    bool secured_ = false;
    bool failed_ = false;
    bool accepted_ = false;
    bool wantsWrite_ = false;
    bool closeNotifySent_ = false;
    bool closeNotifyReceived_ = false;
};

// Blocks in the event dispatcher until the socket is ready for what `connection` waits for
// (WantsWrite), an event has been handled, or `maxMilliseconds` have passed. Returns at once
// when decrypted bytes are waiting to be read.
void WaitForTls(const TlsConnection& connection, int maxMilliseconds);

} // namespace platform
