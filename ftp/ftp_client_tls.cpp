// FTP over TLS (RFC 4217): securing the control connection before the log-on, the decision
// on the host's certificate, PBSZ 0 and PROT P, and the secured data connection of an
// upload. Once TLS is chosen nothing goes out in clear after AUTH TLS, and there is no way
// back to plain FTP.
#include "ftp/ftp_client.h"

#include "ftp/reply_codes.h"
#include "ftp/reply_parsing.h"
#include "socket/thread_timer.h"

using namespace ftp_reply;

namespace {

// How long the end of a secured upload waits for the host to close its side after the
// close-notify. The host has all of the file by then and closes at once; only a host that
// never closes holds the wait this long, and the final reply still tells how it went.
constexpr std::int32_t kDataCloseBoundMs = 30000;

} // namespace

std::string TFtpClient::TlsVersion() const {
    return Tls() != nullptr ? Tls()->Version() : std::string();
}

std::string TFtpClient::TlsCipher() const {
    return Tls() != nullptr ? Tls()->Cipher() : std::string();
}

void TFtpClient::PrepareTls() {
    tlsContext_.reset();
    if (Security == TFtpSecurity::None)
        return;
    platform::TlsOptions options;
    options.caFile = CAFile;
    options.highest = TlsHighestVersion;
    try {
        tlsContext_ = std::make_unique<platform::TlsContext>(options);
    } catch (const platform::ETlsError& error) {
        throw ESockError(error.Message(), SockErrorKind::TlsSetupFailed);
    }
}

void TFtpClient::SendCommandLine(const std::string& CommandString) {
    if (!IsOneCommandLine(CommandString))
        throw FTPException("Invalid character in command", FtpErrorKind::InvalidCommand);
    StatusMessage(kStatusDetail, "Transaction");
    ReadInStep([&] {
        Writeln(CommandString);
        return std::string();
    });
}

std::string TFtpClient::ReadReply() {
    ReplyNumber = 0;
    const std::string first = ReadInStep([this] { return ReadLn(); });
    TransactionReply = first;
    if (first.empty())
        ConnectionClosedByServer();
    StatusMessage(kStatusReply, first);
    ReplyNumber = ReplyNumberOf(first);
    if (!HasReplyCode(first))
        InvalidReply(first);
    ReadContinuationLines(first, true);
    return first;
}

void TFtpClient::RefuseSecurity(const std::string& message, FtpErrorKind kind) {
    // Not even QUIT: after AUTH TLS nothing may go out in clear, and a host whose
    // certificate was refused is told nothing.
    if (Connected)
        TStreamSocket::Disconnect();
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(message, kind);
}

void TFtpClient::RequestTls() {
    const std::string reply = Transaction("AUTH TLS");
    if (ReplyNumber != kAuthTlsAccepted)
        RefuseSecurity("The server refused AUTH TLS: " + QuotedReply(reply),
                       FtpErrorKind::TlsRefused);
}

void TFtpClient::SecureControlConnection() {
    try {
        StartTls(*tlsContext_, Host);
        CompleteTlsHandshake();
    } catch (const ESockError& error) {
        // The socket layer has closed the connection.
        if ((error.Kind() == SockErrorKind::TlsHandshakeFailed ||
             error.Kind() == SockErrorKind::TlsSetupFailed) &&
            OnConnectionFailed)
            OnConnectionFailed(this);
        throw;
    }
    const platform::TlsVerification& verification = Tls()->Verification();
    bool accept = verification.Trusted();
    if (OnCertificate) {
        try {
            OnCertificate(this, verification, accept);
        } catch (...) {
            if (Connected)
                TStreamSocket::Disconnect();
            throw;
        }
    }
    if (!accept) {
        const std::string reasons = verification.Reasons();
        RefuseSecurity("The certificate of " + Host + " was not accepted." +
                           (reasons.empty() ? "" : " " + reasons),
                       FtpErrorKind::CertificateRefused);
    }
    AcceptCertificate();
}

void TFtpClient::ProtectDataConnections() {
    // The connection is secured by now, so a refusal may still be answered with QUIT.
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        const std::string reply = Transaction(command);
        if (!kSecurityAccepted.Contains(ReplyNumber)) {
            if (OnConnectionFailed)
                OnConnectionFailed(this);
            throw FTPException(std::string("The server refused ") + command + ": " +
                                   QuotedReply(reply),
                               FtpErrorKind::TlsRefused);
        }
    }
}

TFtpClient::Opening TFtpClient::OpenSecured(bool passive, bool connecting, bool mayFallBack,
                                            const std::string& LocalFile,
                                            const std::string& RemoteFile) {
    TStreamSocket& data = *FDataConnection;
    std::string reply;
    bool replied = false;
    bool late = false; // Auto: the host did not connect back in time
    // Something for the control connection to see to: its cancel, its time-out, or a reply.
    const auto controlNeedsUs = [this, &replied] {
        return FCanceled || FTimedOut || (!replied && InputWaiting());
    };
    // Reads the reply that has arrived (or, once the data connection is ready, waits for
    // it); true when it refuses the transfer, so that no data connection will come.
    const auto readReply = [&] {
        if (FCanceled || FTimedOut) {
            FCanceled = false;
            throw EAbortError("Socket readln aborted");
        }
        reply = ReadReply();
        replied = true;
        return kStepRefused.Contains(ReplyNumber);
    };
    // The host's answer to STOR came first: the transfer is refused, the conversation in
    // step.
    bool refused = false;
    try {
        SendCommandLine(StorCommand(LocalFile, RemoteFile));
        if (passive) {
            if (connecting)
                data.FinishConnect();
        } else {
            // The host connects once it has taken STOR, and may answer only after the
            // handshake; but a refusal comes instead of the connection.
            const std::unique_ptr<TThreadTimer> bound =
                mayFallBack ? OneShot(ConnectBackTimeOut, [&late] { late = true; }) : nullptr;
            TimerOn();
            while (!data.Connected && !data.FCanceled && !late && !controlNeedsUs())
                PumpAndWait();
            TimerOff();
            if (!data.Connected && late) {
                EndPendingStore();
                return Opening::CannotConnectBack;
            }
            const bool answeredFirst = !data.Connected && !data.FCanceled;
            if (answeredFirst && readReply()) {
                refused = true;
            } else if (answeredFirst && mayFallBack) {
                // STOR's preliminary reply came first: the connection back is still to
                // come, within the bound from this reply on.
                const Opening opening = ConnectBackOrFallBack();
                if (opening != Opening::Open)
                    return opening;
            } else {
                data.TakeAcceptedConnection(data.Accept());
            }
        }
        if (!refused) {
            data.StartTls(*tlsContext_, Host, this);
            try {
                while (!refused && !data.CompleteTlsHandshake(controlNeedsUs))
                    refused = readReply();
            } catch (const ESockError& error) {
                // A host that refuses STOR may drop the data connection at once, before its
                // refusal has arrived: the refusal says what went wrong.
                if (replied || error.Kind() != SockErrorKind::TlsHandshakeFailed || !readReply())
                    throw;
                refused = true;
            }
        }
        if (!refused) {
            // A resumed session reports the check of the control connection's certificate:
            // the data connection must show the very certificate accepted there.
            const platform::TlsVerification& verification = data.Tls()->Verification();
            if (!verification.Trusted()) {
                const std::string& accepted = Tls()->Verification().certificate.sha256Fingerprint;
                if (accepted.empty() || verification.certificate.sha256Fingerprint != accepted)
                    throw FTPException("The data connection's certificate is not the one "
                                       "accepted for the control connection.",
                                       FtpErrorKind::CertificateRefused);
                data.AcceptCertificate();
            }
            if (!replied)
                refused = readReply();
        }
    } catch (...) {
        TimerOff();
        // The host took STOR and its answer is still to come: it must never be read as the
        // reply of a later command.
        if (Connected)
            TStreamSocket::Disconnect();
        throw;
    }
    if (!refused)
        return Opening::Open;
    return StorRefused(reply, mayFallBack);
}

void TFtpClient::CloseDataConnection() {
    if (FDataConnection->Secured())
        FDataConnection->EndTls(kDataCloseBoundMs);
    FDataConnection->CloseGracefully();
}
