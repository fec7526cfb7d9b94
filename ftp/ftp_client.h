// TFtpClient: the FTP client component the installer drives. It is a TStreamSocket whose socket
// is the control connection: it logs on, sends commands and reads their (single- or
// multi-line) replies, changes directory, sets the transfer type, logs off, and uploads
// files over a data connection of its own: active (PORT, or EPRT over IPv6), passive (PASV,
// or EPSV), or active until the host cannot connect back and passive from then on.
//
// Every operation completes or throws: FTPException for a failure reply of the server,
// ESockError/EAbortError for socket failures and cancellation. Used from the main thread.
#pragma once

#include "platform/exception.h"
#include "socket/stream_socket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

// What an FTPException reports.
enum class FtpErrorKind {
    FailureReply,   // the server refused: the message is its reply's first line, line end included
    InvalidReply,   // the server's answer is not an FTP reply; the connection was closed
    InvalidCommand, // the command text cannot be sent as one line; nothing was sent
    // The server refused AUTH TLS, PBSZ or PROT P: "The server refused AUTH TLS: 534 ...".
    // The log-on failed and the connection is closed; nothing went out in clear after
    // AUTH TLS (a refused AUTH TLS is not even answered with QUIT).
    TlsRefused,
    // The host's certificate was not accepted ("The certificate of <host> was not accepted.
    // <reasons>"): the connection is closed, USER and PASS were never sent. Or an upload's
    // data connection showed another certificate than the one accepted for the control
    // connection: the upload failed and the control connection is closed.
    CertificateRefused,
};

// How the control and data connections are protected.
enum class TFtpSecurity : std::uint8_t {
    None,        // plain FTP
    ExplicitTls, // the normal port, AUTH TLS after the greeting (RFC 4217)
    ImplicitTls, // TLS from the first byte, before the greeting (usually port 990)
};

// The port of FTP over implicit TLS, for a host given without a port.
inline constexpr std::int32_t kImplicitTlsPort = 990;

// A failure of the FTP conversation. For a failure reply the message is the reply's first
// line exactly as it was received, line end included.
class FTPException : public platform::Exception {
public:
    explicit FTPException(std::string message, FtpErrorKind kind = FtpErrorKind::FailureReply)
        : platform::Exception(std::move(message)), kind_(kind) {}
    FtpErrorKind Kind() const noexcept { return kind_; }

private:
    FtpErrorKind kind_;
};

// Which operation a success, failure or unsupported-function event reports.
enum TCmdType : std::uint8_t {
    ctChangeDir = 0,
    ctMakeDir = 1,
    ctDelete = 2,
    ctRemoveDir = 3,
    ctUpload = 9,
    ctDoCommand = 14,
    ctCurrentDir = 15,
};

// How an upload's data connection is opened. Over IPv6 the extended commands of RFC 2428
// (EPRT, EPSV) stand for PORT and PASV.
enum class TDataConnectionMode : std::uint8_t {
    Active,  // the client listens and the host connects back (PORT)
    Passive, // the client connects to the host (PASV)
    Auto,    // active until the host cannot connect back, then passive for the connection
};

// The form of the log-on command sent to a firewall (Proxy).
enum TFirewallType : std::uint8_t { FTUser = 0, FtOpen = 1, FtSite = 2 };

using TFailureEvent = std::function<void(bool& Handled, TCmdType Trans_Type)>;
using TSuccessEvent = std::function<void(TCmdType Trans_Type)>;
using TUnsupportedEvent = std::function<void(TCmdType Trans_Type)>;
using TListItemEvent = std::function<void(const std::string& Listing)>;
// After each handshake of the control connection, before anything is sent on it: what the
// check of the host's certificate found. `Accept` comes in as Verification.Trusted(); the
// handler may change it (for example for a fingerprint the operator trusted).
using TCertificateEvent = std::function<void(
    TComponent* Sender, const platform::TlsVerification& Verification, bool& Accept)>;

class TFtpClient : public TStreamSocket {
public:
    explicit TFtpClient(TComponent* AOwner = nullptr);
    ~TFtpClient() override;

    // --- the overridden virtual operations ---

    // Opens the control connection and logs on (greeting, optional firewall log-on, USER,
    // PASS). Does nothing while connected. A failed log-on sends QUIT and closes again.
    // With Security set: implicit TLS secures the connection before the greeting, explicit
    // TLS sends AUTH TLS after it; then the handshake (ESockError TlsHandshakeFailed, or
    // TimedOut / Canceled when TimeOut or Cancel ends it) and OnCertificate, all before
    // USER; PBSZ 0 and PROT P after PASS; OnConnect once all of it is done. A failure
    // before the connection is secured closes it without QUIT.
    void Connect() override;
    // Sends QUIT and closes the control connection, whatever the reply; a reply of 301 to
    // 599 raises FTPException after the close. Does nothing while not connected.
    void Disconnect() override;
    // Sends one command line and reads its whole reply; returns the reply's first line
    // (ReplyNumber comes from it). A command containing CR, LF or NUL is refused with
    // FTPException "Invalid character in command" before anything is sent; a server that
    // closes instead of replying raises ESockError "Connection closed by server"; an answer
    // that does not begin with a three-digit code raises FTPException "Invalid reply from
    // server: ..." and closes the connection, so nothing later is read out of step.
    std::string Transaction(const std::string& CommandString) override;
    // Cancels the data connection of a running upload; the control connection's waits are
    // not ended by it (so a control time-out only stops a transfer).
    void Abort() override;

    // --- commands ---

    // Sends any command; a reply of 400 to 599 fires OnUnSupportedFunction (500-502) and
    // OnFailure, and raises FTPException unless OnFailure sets Handled. Any other reply
    // fires OnSuccess.
    void DoCommand(const std::string& CommandStr);
    // "CWD " + DirName, sent unchanged.
    void ChangeDir(const std::string& DirName);
    // kModeAscii "TYPE A", kModeBinary "TYPE I", kModeLocal8 "TYPE L 8"; any other value
    // sends nothing.
    static constexpr std::int32_t kModeAscii = 1;
    static constexpr std::int32_t kModeBinary = 2;
    static constexpr std::int32_t kModeLocal8 = 3;
    void Mode(std::int32_t TheMode);
    // Stores LocalFile on the server as RemoteFile (or, when that is empty, under the local
    // file's name part). The file is streamed, never loaded whole. When the transfer fails
    // or is cancelled after the server accepted STOR but before its final reply was read,
    // the control connection is closed: that reply would otherwise come as the answer to
    // the next command.
    void Upload(const std::string& LocalFile, const std::string& RemoteFile);
    // Reads the rest of the reply whose first line is given: when that line is "ddd-", every
    // line up to the one that begins with the same code and a space. A reply of more than
    // 10,000 lines or 1 MiB raises FTPException "Invalid reply from server: ..." and closes
    // the connection.
    void ReadReplyLines(const std::string& ReplyLine);

    // The control connection ended because the server closed it or it failed, not because
    // this client closed it (a refused or cancelled transfer, a reply that was no reply).
    bool ConnectionLost() const;

    // --- published properties (initial values as the component is dropped on a form) ---
    std::string UserID;
    std::string Password;
    std::int32_t Vendor = 2411; // stored only; reset by Disconnect
    bool ParseList = false;     // stored only
    bool Passive = false;       // PASV instead of PORT for the data connection, whatever the mode
    TDataConnectionMode DataConnection = TDataConnectionMode::Active;
    // Auto: how long the host has, once it has accepted STOR, to connect back before the
    // upload goes again passively (milliseconds).
    std::int32_t ConnectBackTimeOut = 10000;
    // How long the host has to answer ABOR, which ends a STOR that it accepted but could not
    // connect back for (milliseconds). Beyond it the connection is closed.
    std::int32_t AbortReplyTimeOut = 10000;
    TFirewallType FirewallType = FTUser;
    std::string FWUserID;
    std::string FWPassword;
    bool FWAuthenticate = false;
    // FTP over TLS: with ExplicitTls or ImplicitTls the log-on secures the control
    // connection before USER and PASS and sends PBSZ 0 and PROT P after them, and every
    // data connection is secured too, resuming the control connection's TLS session and
    // ending with a close-notify. Nothing goes out in clear once TLS is chosen; a host that
    // refuses it ends the log-on. None keeps the conversation exactly as plain FTP.
    TFtpSecurity Security = TFtpSecurity::None;
    // A PEM file of further trusted authorities, beside the system's; empty for none. Read
    // at each Connect with TLS; a file that cannot be used fails the Connect with ESockError
    // (TlsSetupFailed) before anything is sent.
    std::string CAFile;
    // The highest TLS version offered (TLS 1.2 is the lowest); for tests and measurements.
    platform::TlsVersion TlsHighestVersion = platform::TlsVersion::Highest;

    // --- events (called only when set) ---
    TNotifyEvent OnConnect; // the log-on completed (hides the socket layer's event)
    TNotifyEvent OnTransactionStart;
    TNotifyEvent OnTransactionStop;
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed; // stored only; a refused log-on fires OnConnectionFailed
    TFailureEvent OnFailure;
    TSuccessEvent OnSuccess;
    TListItemEvent OnListItem; // stored only
    TUnsupportedEvent OnUnSupportedFunction;
    // Decides on the host's certificate (see TCertificateEvent). Without a handler only a
    // certificate that passes the check is accepted. A refused certificate closes the
    // connection and raises FTPException (CertificateRefused).
    TCertificateEvent OnCertificate;

    // What the control connection agreed, once secured: "TLS 1.3" and the cipher's standard
    // name "TLS_AES_256_GCM_SHA384"; empty when the connection is not secured. Valid from
    // OnCertificate on, until the connection closes.
    std::string TlsVersion() const;
    std::string TlsCipher() const;

    // Auto: the host could not connect back; the upload goes again passively, and so does
    // every later one on this connection.
    TNotifyEvent OnPassiveFallback;

    // Whether the next upload opens its data connection passively.
    bool UsingPassive() const;

    // What an observer of a running upload may ask (a watchdog, a progress): whether the
    // client awaits a reply on the control connection, whether an upload has its data
    // connection and whether that is connected, and the bytes put on it so far (0 between
    // uploads).
    bool AwaitingReply() const { return ReplyNumber == 0; }
    bool Transferring() const { return FDataConnection != nullptr; }
    bool DataConnected() const { return FDataConnection && FDataConnection->Connected; }
    std::int64_t BytesSent() const { return FDataConnection ? FDataConnection->BytesSent : 0; }

    // The data connection of the running upload; empty between uploads.
    std::unique_ptr<TStreamSocket> FDataConnection;
    // Held by an upload from before its data connection is created until after it is freed.
    std::recursive_mutex FTransferLock;

private:
    // Transaction with the choice of whether a close by the server is an error (it is the
    // normal end of QUIT).
    std::string TransactionWithReply(const std::string& CommandString, bool closeIsError);
    void ReadContinuationLines(const std::string& ReplyLine, bool closeIsError);
    // The connection ended while a reply was awaited: close our side and raise.
    [[noreturn]] void ConnectionClosedByServer();
    // The server's answer is not an FTP reply: close the connection and raise FTPException
    // "Invalid reply from server: <line>".
    [[noreturn]] void InvalidReply(const std::string& Line);
    // Reads and reports the first line of a reply that was not asked for with Transaction
    // (the greeting, an upload's final reply); raises for a close or a line without a code.
    std::string ReadFirstReplyLine();
    // Runs one read of a reply. A socket error (not a cancel) leaves the conversation out of
    // step, since what is left of the reply would be taken for the next command's; the
    // connection is then closed before the error goes on.
    std::string ReadInStep(const std::function<std::string()>& read);
    void LogOn();
    // Fires OnConnectionFailed and raises FTPException with the reply line.
    [[noreturn]] void LogOnFailed(const std::string& ReplyLine);
    // The failure rule of an upload: true when OnFailure handled it (the upload then ends
    // quietly); otherwise raises FTPException with the reply line.
    bool UploadFailureHandled(const std::string& ReplyLine);
    // The upload's steps between taking the lock and its clean-up; false when a failure
    // was handled by OnFailure.
    bool Transfer(const std::string& LocalFile, const std::string& RemoteFile);
    // Sends STOR and reads its reply (StoreSecured over a secured control connection).
    std::string Store(const std::string& CommandString);
    // The data phase once STOR has been accepted; returns the final reply's first line.
    std::string SendAndReadFinalReply(const std::string& LocalFile);

    // How opening a data connection ended; how waiting for the host's connection back ended.
    enum class Opening { Open, Handled, CannotConnectBack };
    enum class ConnectBack { Accepted, HostReplied, NotInTime };

    // --- FTP over TLS (ftp_client_tls.cpp) ---
    // Makes the TLS settings of this connection when TLS is chosen (drops them otherwise).
    void PrepareTls();
    // Sends a command line without reading its reply (refusing CR, LF and NUL as
    // Transaction does), and reads a whole reply as Transaction does.
    void SendCommandLine(const std::string& CommandString);
    std::string ReadReply();
    // AUTH TLS; anything but 234 closes the connection and raises.
    void RequestTls();
    // The handshake of the control connection and the decision on its certificate.
    void SecureControlConnection();
    // PBSZ 0 and PROT P after the log-on; a refusal raises (the log-on's clean-up then logs
    // off over the secured connection).
    void ProtectDataConnections();
    // Closes the connection without another word and raises FTPException of `kind`.
    [[noreturn]] void RefuseSecurity(const std::string& message, FtpErrorKind kind);
    // Sends STOR over a secured control connection and secures the data connection: it is
    // accepted (active; in Auto within ConnectBackTimeOut) or already connected (passive), and
    // its handshake runs before the preliminary reply is required, since a host may send that
    // only after the handshake, while a reply that arrives meanwhile is read at once (a
    // refusal means no handshake will come).
    Opening OpenSecured(bool passive, bool connecting, bool mayFallBack,
                        const std::string& LocalFile, const std::string& RemoteFile);
    // After the data: ends the data connection's TLS (when secured) and closes it.
    void CloseDataConnection();

    // --- the data connection's opening ---
    // A fresh data connection with the client's time-out and packet handler.
    void NewDataConnection();
    // Opens the data connection and has the host take STOR: PORT (or EPRT) and STOR and the
    // host's connection back, or PASV (or EPSV), the connection to the host and STOR. In
    // Auto mode a host that cannot connect back is left in step and the upload goes again
    // passively. False when a failure was handled by OnFailure.
    bool OpenDataConnection(const std::string& LocalFile, const std::string& RemoteFile);
    Opening OpenOnce(bool passive, bool mayFallBack, const std::string& LocalFile,
                     const std::string& RemoteFile);
    // PASV (EPSV) and the connection to the address the control connection reached;
    // `connecting` when that connection is only started (FinishConnect after STOR).
    bool ConnectPassively(bool& connecting);
    // "STOR " and the name the file is stored under (reported as a status).
    std::string StorCommand(const std::string& LocalFile, const std::string& RemoteFile);
    std::string SendStor(const std::string& LocalFile, const std::string& RemoteFile);
    // STOR was refused with this reply: a 425 in Auto is the host that cannot connect back;
    // anything else goes through the failure rule.
    Opening StorRefused(const std::string& Reply, bool mayFallBack);
    // A timer that runs `fired` once after `boundMs` (never for 0), while it exists.
    static std::unique_ptr<TThreadTimer> OneShot(int boundMs, std::function<void()> fired);
    // Auto: waits for the host's connection back; a reply on the control connection (the
    // STOR's final one) or `boundMs` passing ends the wait instead.
    ConnectBack AwaitConnectBack(int boundMs);
    // Auto, STOR answered with its preliminary reply: the host's connection back, or else
    // its end of the transfer (its final reply, or ABOR once the bound has passed).
    // Opening::Open only with the connection accepted.
    Opening ConnectBackOrFallBack();
    // Ends a STOR that the host accepted and never connected back for: ABOR and its
    // replies, bounded. Closes the connection and raises when the host does not end it.
    void EndPendingStore();
    void FallBackToPassive();

    bool connectionLost_ = false;
    bool passiveFallback_ = false; // Auto has switched to passive for this connection
    std::unique_ptr<platform::TlsContext> tlsContext_;
};
