// How an upload's data connection is opened: actively (the client listens, announces the
// port with PORT, or EPRT over IPv6, and the host connects back once it has accepted STOR)
// or passively (PASV, or EPSV over IPv6, and the client connects to the host). In Auto mode
// an upload starts actively and, when the host cannot connect back (a 425, or no connection
// in time), is ended properly on the host and goes again passively, as does every later
// upload of the connection. Nothing of the file has been sent when that happens, so the
// host receives each byte once.
#include "ftp/ftp_client.h"

#include "ftp/reply_codes.h"
#include "ftp/reply_parsing.h"
#include "socket/thread_timer.h"

using namespace ftp_reply;

// A timer that runs `fired` once after `boundMs` (never for 0), while it exists.
std::unique_ptr<TThreadTimer> TFtpClient::OneShot(int boundMs, std::function<void()> fired) {
    if (boundMs <= 0)
        return nullptr;
    auto timer = std::make_unique<TThreadTimer>();
    timer->SetEnabled(false);
    timer->SetInterval(static_cast<std::uint32_t>(boundMs));
    TThreadTimer* self = timer.get();
    timer->SetOnTimer([self, fired = std::move(fired)](TObject*) {
        self->SetEnabled(false);
        fired();
    });
    timer->SetEnabled(true);
    return timer;
}

bool TFtpClient::UsingPassive() const {
    return Passive || DataConnection == TDataConnectionMode::Passive ||
           (DataConnection == TDataConnectionMode::Auto && passiveFallback_);
}

void TFtpClient::NewDataConnection() {
    FDataConnection.reset();
    FDataConnection = std::make_unique<TStreamSocket>(this);
    FDataConnection->TimeOut = TimeOut;
    if (OnPacketSent)
        FDataConnection->OnPacketSent = OnPacketSent;
    // Of the data connection's own statuses only a refused stranger is worth passing on.
    FDataConnection->OnConnectionRefused = [this](TComponent*, const std::string& text) {
        StatusMessage(kStatusDetail, text);
    };
}

bool TFtpClient::OpenDataConnection(const std::string& LocalFile, const std::string& RemoteFile) {
    for (;;) {
        const bool passive = UsingPassive();
        const bool mayFallBack = !passive && DataConnection == TDataConnectionMode::Auto;
        switch (OpenOnce(passive, mayFallBack, LocalFile, RemoteFile)) {
        case Opening::Open:
            return true;
        case Opening::Handled:
            return false;
        case Opening::CannotConnectBack:
            FallBackToPassive();
            break;
        }
    }
}

TFtpClient::Opening TFtpClient::OpenOnce(bool passive, bool mayFallBack,
                                         const std::string& LocalFile,
                                         const std::string& RemoteFile) {
    // The data connection's handshake runs while STOR is answered (see ConnectPassively).
    bool connecting = false;
    if (passive) {
        if (!ConnectPassively(connecting))
            return Opening::Handled;
    } else {
        const platform::AddressFamily family = Family();
        FDataConnection->Port = 0;
        // The host connects back to the address this end of the control connection has,
        // which PORT (EPRT) names, and nobody but the host may take the file: the listener
        // is bound to that address alone and closes, unanswered, a connection from any
        // address but the host's.
        FDataConnection->Listen(true, LocalSocketAddress(), PeerAddress());
        const std::string reply =
            family == platform::AddressFamily::IPv6
                ? Transaction("EPRT " + ExtendedPortArgument(true, LocalAddressText(),
                                                             FDataConnection->LocalPort()))
                : Transaction("PORT " + GetLocalAddress() + FDataConnection->GetPortString());
        // A host that connects at once (as many do on PORT) says here that it cannot.
        if (mayFallBack && ReplyNumber == kCannotOpenDataConnection)
            return Opening::CannotConnectBack;
        if (kStepRefused.Contains(ReplyNumber))
            return UploadFailureHandled(reply) ? Opening::Handled : Opening::Open;
    }

    // Over a secured control connection the data connection is secured too, and a host
    // may answer STOR only once that is done.
    if (Secured())
        return OpenSecured(passive, connecting, mayFallBack, LocalFile, RemoteFile);
    const std::string reply = SendStor(LocalFile, RemoteFile);
    if (kStepRefused.Contains(ReplyNumber))
        return StorRefused(reply, mayFallBack);
    if (passive) {
        if (connecting) {
            try {
                FDataConnection->FinishConnect();
            } catch (...) {
                // The host has taken STOR and waits for the data: its final reply would
                // come as the answer to the next command.
                if (Connected)
                    TStreamSocket::Disconnect();
                throw;
            }
        }
        return Opening::Open;
    }

    // The host has accepted STOR: until its final reply is read, any way out of here must
    // leave nothing of it to be taken for the next command's reply.
    try {
        if (!mayFallBack) {
            // Active: the host connects back, however long that takes the caller to allow.
            FDataConnection->TakeAcceptedConnection(FDataConnection->Accept());
            return Opening::Open;
        }
        return ConnectBackOrFallBack();
    } catch (const FTPException&) {
        throw; // a failure reply was read whole: the conversation is in step
    } catch (...) {
        if (Connected)
            TStreamSocket::Disconnect();
        throw;
    }
    return Opening::Open;
}

bool TFtpClient::ConnectPassively(bool& connecting) {
    const bool ipv6 = Family() == platform::AddressFamily::IPv6;
    const std::string reply = Transaction(ipv6 ? "EPSV" : "PASV");
    if (ReplyNumber >= kPassiveRefusedFrom)
        return !UploadFailureHandled(reply);
    FDataConnection->Port = ipv6 ? ExtendedPassivePort(reply) : PassivePort(reply);
    // The address in the reply is not trusted, and the name is not looked up again: the
    // data goes to the very address the control connection reached.
    platform::SocketAddress peer = PeerAddress();
    peer.port = 0;
    FDataConnection->Host = platform::AddressText(peer);
    // The chosen modes send STOR as soon as the connection is on its way instead of a round
    // trip later: the handshake and STOR's reply then share one round trip. A host cannot
    // tell the difference, since its passive port takes the connection whenever it comes and
    // a server cannot rely on the order in which two connections' packets arrive anyway. The
    // Passive property keeps the order of the described system: connected, then STOR.
    connecting = !Passive && FDataConnection->BeginConnect();
    if (!connecting)
        FDataConnection->Connect();
    return true;
}

std::string TFtpClient::StorCommand(const std::string& LocalFile, const std::string& RemoteFile) {
    // The status names the whole local path when the file keeps its own name.
    StatusMessage(kStatusReply, "STOR " + (RemoteFile.empty() ? LocalFile : RemoteFile));
    return "STOR " + (RemoteFile.empty() ? RemoteNameOf(LocalFile) : RemoteFile);
}

std::string TFtpClient::SendStor(const std::string& LocalFile, const std::string& RemoteFile) {
    return Transaction(StorCommand(LocalFile, RemoteFile));
}

TFtpClient::Opening TFtpClient::StorRefused(const std::string& Reply, bool mayFallBack) {
    if (mayFallBack && ReplyNumber == kCannotOpenDataConnection)
        return Opening::CannotConnectBack;
    if (OnUnSupportedFunction && kUnsupported.Contains(ReplyNumber))
        OnUnSupportedFunction(ctUpload);
    return UploadFailureHandled(Reply) ? Opening::Handled : Opening::Open;
}

TFtpClient::ConnectBack TFtpClient::AwaitConnectBack(int boundMs) {
    TStreamSocket& data = *FDataConnection;
    bool replied = false;
    bool late = false;
    // While the host should be connecting back, anything on the control connection is the
    // STOR's final reply: the host has given up (425, say), and no connection will come.
    struct RestoreReadHook {
        TNotifyEvent& hook;
        TNotifyEvent saved;
        ~RestoreReadHook() { hook = std::move(saved); }
    } restore{FOnReadReady, FOnReadReady};
    FOnReadReady = [&replied, &data](TObject*) {
        replied = true;
        data.Cancel();
    };
    const std::unique_ptr<TThreadTimer> bound = OneShot(boundMs, [&late, &data] {
        late = true;
        data.Cancel();
    });
    if (DataAvailable()) {
        replied = true;
        data.Cancel();
    }
    try {
        data.TakeAcceptedConnection(data.Accept());
        return ConnectBack::Accepted;
    } catch (const ESockError&) {
        if (replied)
            return ConnectBack::HostReplied;
        if (late)
            return ConnectBack::NotInTime;
        throw;
    }
}

TFtpClient::Opening TFtpClient::ConnectBackOrFallBack() {
    switch (AwaitConnectBack(ConnectBackTimeOut)) {
    case ConnectBack::Accepted:
        return Opening::Open;
    case ConnectBack::HostReplied: {
        // The host gave up on the transfer before any data: its final reply.
        const std::string finalReply = ReadFirstReplyLine();
        ReadReplyLines(finalReply);
        if (ReplyNumberOf(finalReply) == kCannotOpenDataConnection)
            return Opening::CannotConnectBack;
        // Whatever it says, no data went: the file is not stored (the failure rule raises
        // unless a handler takes it).
        UploadFailureHandled(finalReply);
        return Opening::Handled;
    }
    case ConnectBack::NotInTime:
        EndPendingStore();
        return Opening::CannotConnectBack;
    }
    return Opening::Handled;
}

void TFtpClient::EndPendingStore() {
    StatusMessage(kStatusReply, "ABOR");
    bool late = false;
    const std::unique_ptr<TThreadTimer> bound = OneShot(AbortReplyTimeOut, [this, &late] {
        late = true;
        Cancel();
    });
    std::string reply;
    try {
        // RFC 959: the aborted STOR is answered first (426, or 425/451), then ABOR itself
        // (226, or 225 when the host had nothing left to abort).
        reply = Transaction("ABOR");
        if (kFailure.Contains(ReplyNumber) && ReplyNumber < kUnsupported.low) {
            reply = ReadFirstReplyLine();
            ReadReplyLines(reply);
        }
    } catch (const EAbortError&) {
        if (!late)
            throw; // a stop or time-out of the caller's
        if (Connected)
            TStreamSocket::Disconnect();
        throw ESockError("Connection Timed out", SockErrorKind::TimedOut);
    }
    const int number = ReplyNumberOf(reply);
    if (number == kAbortedNothingLeft || number == kAbortedTransfer)
        return;
    // The host did not end the STOR: what it still sends could be taken for a later reply.
    if (Connected)
        TStreamSocket::Disconnect();
    throw FTPException(reply);
}

void TFtpClient::FallBackToPassive() {
    passiveFallback_ = true;
    StatusMessage(kStatusReply, "Passive data connections from here on");
    NewDataConnection();
    if (OnPassiveFallback)
        OnPassiveFallback(this);
}
