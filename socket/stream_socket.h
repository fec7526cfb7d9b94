// TStreamSocket: the TCP client socket component on which the FTP client rests. Every
// operation is synchronous to its caller (it completes or throws), while underneath the
// socket is non-blocking and each wait runs the event pump, so that socket notifications,
// the time-out timer and a cancel from the user interface are handled during the wait.
// Used from the main thread only.
#pragma once

#include "platform/exception.h"
#include "platform/socket_api.h"
#include "platform/socket_notifier.h"
#include "platform/tls_connection.h"
#include "platform/tls_context.h"
#include "socket/component.h"
#include "socket/thread_timer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class FileReader;
class HostLookup;
} // namespace platform

// What went wrong, for code that must tell failures apart. The message of the error stays
// the text the operator sees; code tests the kind, never the text.
enum class SockErrorKind {
    SocketCall,         // a socket call failed: "10054:Connection reset by peer", ...
    StartupFailed,      // the object could not get a socket
    LookupFailed,       // the host name did not resolve
    NullAddress,        // no address to connect to
    AlreadyConnected,   // Connect while connected
    Refused,            // the host refused the connection
    ConnectFailed,      // the connection could not be made for another reason
    TimedOut,           // a time-out ended the wait
    Canceled,           // a cancel request (or, for a transfer, a time-out) ended the wait
    ConnectionClosed,   // the peer closed the connection while an answer was awaited
    LineTooLong,        // a line does not fit the receive buffer
    DataConnection,     // the data connection could not be accepted
    TlsSetupFailed,     // TLS cannot be used as configured (a CA file, a host name)
    TlsHandshakeFailed, // the TLS handshake failed: the message says why
    TlsFailed,          // a secured connection broke after its handshake
};

// Socket failures, time-outs and cancellations of connection set-up.
class ESockError : public platform::Exception {
public:
    explicit ESockError(std::string message, SockErrorKind kind = SockErrorKind::SocketCall)
        : platform::Exception(std::move(message)), kind_(kind) {}
    SockErrorKind Kind() const noexcept { return kind_; }

private:
    SockErrorKind kind_;
};

// A transfer ended by a cancel request or a time-out.
class EAbortError : public ESockError {
public:
    explicit EAbortError(std::string message, SockErrorKind kind = SockErrorKind::Canceled)
        : ESockError(std::move(message), kind) {}
};

using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent =
    std::function<void(TComponent* Sender, std::uint16_t Errno, const std::string& Errmsg)>;
using TMessage = platform::WindowMessage;

// Socket handles are kept in 16 bits; this value means "no socket".
using TSocket = std::uint16_t;
inline constexpr TSocket kInvalidSocket = 65535;

// Field N (from 1) of Text split at every Delimiter; empty when there is no such field.
std::string NthField(const std::string& Text, char Delimiter, int N);

// The port part of a PORT argument: "," + high byte + "," + low byte, in decimal.
std::string FormatPortString(std::uint16_t Port);

class TStreamSocket : public TComponent {
public:
    // Notification kinds on the object's window.
    static constexpr unsigned kSocketMessage = 1125;
    static constexpr unsigned kLookupMessage = 1126;
    // Every event that a connected socket is registered for.
    static constexpr long kSocketEvents = platform::kFdRead | platform::kFdOob |
                                          platform::kFdAccept | platform::kFdConnect |
                                          platform::kFdClose;
    static constexpr std::size_t kBufferSize = 65536;

    // Builds the object with an open socket; raises ESockError
    // "Initializaton of windows sockets failed" when that is impossible.
    explicit TStreamSocket(TComponent* AOwner = nullptr);
    ~TStreamSocket() override;

    // --- the virtual operations, in this order ---
    virtual TSocket Accept();
    virtual void Connect();
    // Connect in two halves, for a caller that has something to do while the handshake
    // runs: BeginConnect starts the connection to a Host written as numbers (false, and
    // nothing done, for a name or with a Proxy: use Connect), FinishConnect waits for it and
    // fails as Connect does.
    bool BeginConnect();
    void FinishConnect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& CommandString);
    virtual void Abort();

    // --- connection ---
    // The last connection was closed because the peer closed or reset it (its close
    // notification), not by this object. Cleared by Connect.
    bool ClosedByPeer() const { return FPeerClosed; }
    void CheckConnection();
    void Cancel();
    void RequestCloseSocket();
    // Status levels: a text reaches OnStatus only when its level is at most ReportLevel.
    static constexpr std::uint8_t kStatusReply = 1;    // the server's replies
    static constexpr std::uint8_t kStatusTransfer = 4; // a few steps of a transfer
    static constexpr std::uint8_t kStatusDetail = 8;   // everything else
    void StatusMessage(std::uint8_t Level, const std::string& Text);
    void CheckSocketError(std::uint16_t Tolerated, std::string& Msg);
    void ErrorMessage(std::uint16_t ErrNo, std::string& Msg);
    void HandleSocketMessage(TMessage& Msg);
    void TimerOn();
    void TimerOff();
    void TimerFired(TObject* Sender);

    // --- stream I/O ---
    void SendBuffer(const char* Value, std::uint16_t BufLen);
    void Write(const std::string& Str);
    void Writeln(const std::string& Str);
    std::string Read(std::uint16_t Value);
    std::string ReadLn();
    void SendFile(const std::string& Filename);
    bool DataAvailable();
    void ClearInput();

    // --- data connection listener ---
    // Listens on a port the system chooses, on any local address of the family (IPv4
    // unless told otherwise: the family of the connection the peer is reached over).
    void Listen(bool SyncAccept);
    void Listen(bool SyncAccept, platform::AddressFamily Family);
    // Listens at `Local`'s address (on the Port property's port; 0: one the system chooses)
    // for a connection from `From`'s address only; both given ports are ignored. A
    // connection from any other address is reset as soon as it is noticed, before a byte is
    // sent to it, and is reported (status level 8 and OnConnectionRefused); the wait goes on
    // as though it had never come.
    void Listen(bool SyncAccept, const platform::SocketAddress& Local,
                const platform::SocketAddress& From);
    // Makes the connection that Accept returned this object's socket and closes the
    // listening one.
    void TakeAcceptedConnection(TSocket Accepted);
    // Closes the connection gracefully (a FIN, never a reset), whatever linger option the
    // socket had: in a stream-mode FTP transfer the close is what marks the end of the file.
    void CloseGracefully();
    std::string GetLocalAddress();
    std::string GetPortString();
    // This end's address and port as numbers ("192.168.0.10" or "2001:db8::10", without a
    // scope), and the family of the socket.
    std::string LocalAddressText();
    std::uint16_t LocalPort();
    // This end's address and port as the system gives them (an IPv6 one with its scope).
    platform::SocketAddress LocalSocketAddress();
    platform::AddressFamily Family();

    // The address (with its port) that the last Connect reached: one of the host's
    // addresses, numbers only. A second connection to the same host goes there, never to
    // a name looked up again.
    const platform::SocketAddress& PeerAddress() const { return FSockAddr; }

    // --- TLS (stream_socket_tls.cpp) ---
    // Once a connection is secured, every operation of the stream I/O goes through TLS;
    // a socket that was never secured behaves exactly as without TLS.

    // Starts securing the connected socket as the TLS client of `HostName`, the name or
    // address typed for the host, which its certificate must name. `SessionOf`, a secured
    // connection to the same host, offers its TLS session for resumption (a data connection
    // resumes its control connection's). From here on nothing is written until the
    // handshake is done and the certificate is trusted, by the check or by
    // AcceptCertificate. Raises ESockError (TlsSetupFailed) for a host name that cannot be
    // checked; the connection is then closed.
    void StartTls(platform::TlsContext& Context, const std::string& HostName,
                  TStreamSocket* SessionOf = nullptr);
    // Runs the handshake that StartTls began, in a pumping wait that waits for exactly what
    // the handshake needs, bounded by TimeOut (0: none) and ended by Cancel. Returns true
    // once it is done; false when `Pause` (asked after every pass of the pump) returned
    // true first: the handshake then waits for another call. A failed, timed-out or
    // cancelled handshake closes the connection and raises ESockError: TlsHandshakeFailed
    // (the message says why), TimedOut ("TLS handshake timed out") or Canceled ("TLS
    // handshake canceled").
    bool CompleteTlsHandshake(const std::function<bool()>& Pause = {});
    // Whether the connection has been put under TLS (by StartTls, until it is closed).
    bool Secured() const { return FTls != nullptr; }
    // The TLS end of a secured connection (what was agreed, what the check of the
    // certificate found); nullptr when the connection is not secured.
    const platform::TlsConnection* Tls() const { return FTls.get(); }
    // The caller trusts the host's certificate although the check found problems.
    void AcceptCertificate();
    // Ends the TLS connection before the socket is closed: sends the close-notify, then
    // waits (bounded by `BoundMs`, by TimeOut and by Cancel) for the host's own close. A
    // host may still send on the connection (a TLS 1.3 host its session tickets, after the
    // last byte of an upload) and a socket closed before that answers with a reset, which
    // drops whatever of the upload is still on its way. Never raises: closing goes on
    // whatever the wait found.
    void EndTls(std::int32_t BoundMs);
    // Whether bytes wait to be read (decrypted ones when secured), without a status report.
    bool InputWaiting();

    // --- published properties ---
    std::string Host;
    std::int32_t Port = 0;
    std::int32_t TimeOut = 0; // milliseconds; 0 means no time-out; must not be negative
    // Where the host has several addresses, the longest that one of them may take to answer
    // before the next is tried (milliseconds, 0: no bound of its own). The last address has
    // only TimeOut.
    std::int32_t AttemptTimeOut = 10000;
    std::int32_t ReportLevel = 0; // highest status level reported through OnStatus
    std::string Proxy;
    std::int32_t ProxyPort = 0;

    // --- events (called only when set) ---
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TOnErrorEvent OnError;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    THandlerEvent OnConnectionRequired;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketRecvd; // declared for symmetry; nothing fires it
    TNotifyEvent OnPacketSent;  // fired by SendFile after every successful send
    TNotifyEvent FOnReadReady;  // hook of the read notification
    TNotifyEvent FOnAcceptReady;
    // A listener closed a connection from an address it does not take connections from;
    // the text says from where ("Refused a data connection from 127.0.0.2").
    TOnStatus OnConnectionRefused;

    // --- state readable (and, for the data connection, writable) by the FTP client ---
    TSocket FSocket = kInvalidSocket;
    bool FCanceled = false;
    bool FTimedOut = false;
    bool Connected = false;
    std::int16_t ReplyNumber = 0;
    std::string TransactionReply;
    // Save files of many GiB exist: the byte counts of an upload are 64-bit.
    std::int64_t BytesTotal = 0;
    std::int64_t BytesSent = 0;
    std::int32_t LastErrorNo = 0;
    std::string Status;
    std::vector<std::string> WinsockInfo;

    // Live instances between their library start-up and their destruction.
    static int WinsockUsers();

protected:
    friend class CorkScope; // corks and uncorks the handle for a file's sending

    void InitWinsock();
    void ResolveRemoteHost();

    // Blocks in the dispatcher until the next event (bounded), then runs one pass of the
    // pump: every flag a wait polls is set by an event handler, and new data, writability
    // and connections are events too, so nothing is polled in a loop.
    void PumpAndWait();
    // FSocket as a platform handle.
    platform::SocketHandle Handle() const {
        return FSocket == kInvalidSocket ? platform::kNoSocket : FSocket;
    }
    // Opens a fresh socket registered for notifications; the handle or kInvalidSocket.
    TSocket OpenRegisteredSocket(bool withLinger,
                                 platform::AddressFamily family = platform::AddressFamily::IPv4);
    // Replaces the socket by a fresh one of the family (the old one is closed without a
    // notification to anyone); raises ESockError when none can be had.
    void ReplaceSocket(platform::AddressFamily family);
    // One connection attempt to FSockAddr, bounded by `boundMs` (0: only by TimeOut); true
    // when connected. A failed attempt leaves the failure in FLastEventOk and the flags. The
    // first attempt starts the time-out.
    bool ConnectAttempt(int boundMs, bool& attemptExpired, bool first);
    // Fires OnConnectionFailed and raises the error that says why no connection was made.
    [[noreturn]] void ConnectionNotMade(bool attemptExpired);

    // The byte transfers of the stream I/O, through TLS once the connection is secured:
    // the count, 0 when the peer has closed, or -1 with the number for
    // platform::SocketLastError(). A TLS failure raises ESockError (TlsFailed).
    int SendSome(const char* Data, int Length);
    int ReceiveSome(char* Buffer, int Length, bool Peek);
    // Blocks until the connection can go on (for a secured one: exactly what TLS waits for;
    // never while decrypted bytes wait), then runs one pass of the pump.
    void WaitForInput();
    // Sends a file through TLS (SendFile of a secured connection).
    void SendFileSecured(platform::FileReader& File);
    // Read of a secured connection.
    std::string ReadSecured(std::size_t Count);
    // Ends TLS for a close: one step of the close-notify, no wait, and the TLS state is
    // dropped (RequestCloseSocket).
    void DropTls();

    // Listens at `Local` (its port replaced by the Port property's) for connections from
    // `From`'s address, or from anyone without it.
    void ListenAt(platform::SocketAddress Local, bool SyncAccept,
                  const std::optional<platform::SocketAddress>& From);
    // On a listener's accept notification: whether a connection waits for Accept. A listener
    // open to anyone leaves the accepting to Accept. One that takes a single address accepts
    // what is pending here, closes every connection from elsewhere and holds the first from
    // that address; false when none has come (the wait goes on). A failed accept counts as
    // a connection, for Accept to report.
    bool ScreenIncoming();
    // Closes a held connection that Accept never handed out.
    void DropHeldConnection();

    bool FShuttingDown = false;
    bool FLastEventOk = false;
    int FLastEventError = 0; // the error code of the last notification (0: none)
    bool FAsyncDone = false;
    std::array<char, kBufferSize + 1> FBuffer{};
    platform::SocketAddress FSockAddr;
    // Every address of the host, in the order they are tried.
    std::vector<platform::SocketAddress> FAddresses;
    std::unique_ptr<platform::MessageWindow> FSockWindow;
    std::unique_ptr<platform::HostLookup> FLookup;
    std::unique_ptr<TThreadTimer> FTimer;

private:
    bool FCountedUser = false;  // this instance is counted in WinsockUsers
    bool FConnectDone = false;  // the connect notification of the current attempt came
    bool FPeerClosed = false;   // the close notification closed the connection
    bool FSocketLinger = false; // the socket closes with a reset (linger on, time 0)
    std::unique_ptr<platform::TlsConnection> FTls;
    bool FTlsHandshaking = false; // from StartTls until the handshake is done
    // The TLS layer itself is reading or writing in a wait of its own (handshake, close,
    // sending a file): a close notification is then left to it, since it sees the end of
    // the stream itself and holds the connection until its wait is over.
    bool FTlsBusy = false;
    // The address a listener takes connections from; none: any address.
    std::optional<platform::SocketAddress> FAcceptFrom;
    // The connection from that address, accepted when it was noticed, until Accept takes it.
    platform::SocketHandle FHeldConnection = platform::kNoSocket;
    platform::SocketAddress FHeldPeer;
};
