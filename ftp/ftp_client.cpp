// TFtpClient's control connection: construction, log-on, reply reading, commands, log-off.
#include "ftp/ftp_client.h"

#include "ftp/reply_codes.h"
#include "ftp/reply_parsing.h"

#include <exception>

using namespace ftp_reply;

TFtpClient::TFtpClient(TComponent* AOwner) : TStreamSocket(AOwner) {
    Port = 21;
    Vendor = 2411;
    // Replies are read by polling; read notifications of the control socket carry nothing
    // the client needs.
    FOnReadReady = [](TObject*) {};
}

TFtpClient::~TFtpClient() {
    BeginDestruction();
    Cancel();
}

void TFtpClient::Connect() {
    FCanceled = false;
    if (Connected)
        return;
    connectionLost_ = false;
    passiveFallback_ = false; // a new connection starts as the mode says
    ClearInput();
    PrepareTls(); // a CA file that cannot be used fails here, before anything is sent
    TStreamSocket::Connect();
    try {
        LogOn();
    } catch (...) {
        const std::exception_ptr cause = std::current_exception();
        try {
            Disconnect();
        } catch (const FTPException&) {
            throw; // a refused QUIT is what the server said last
        } catch (...) {
            // The connection is closed either way; the log-on failure is the news.
        }
        StatusMessage(kStatusReply, "Disconnected");
        std::rethrow_exception(cause);
    }
}

void TFtpClient::LogOn() {
    if (Security == TFtpSecurity::ImplicitTls)
        SecureControlConnection(); // TLS from the first byte: the greeting comes secured
    const std::string greeting = ReadFirstReplyLine();
    ReplyNumber = ReplyNumberOf(greeting);
    ReadContinuationLines(greeting, true);
    if (ReplyNumber > kGreetingRefusedAbove)
        LogOnFailed(greeting);
    if (Security == TFtpSecurity::ExplicitTls) {
        // Before anything else: no user name or password ever goes out in clear.
        RequestTls();
        SecureControlConnection();
    }

    std::string reply;
    if (FWAuthenticate) {
        reply = Transaction("USER " + FWUserID);
        if (kLogOnRefused.Contains(ReplyNumber))
            LogOnFailed(reply);
        if (ReplyNumber == kNeedPassword) {
            StatusMessage(kStatusReply, "PASS ");
            reply = Transaction("PASS " + FWPassword);
            if (kLogOnRefused.Contains(ReplyNumber))
                LogOnFailed(reply);
        }
    }

    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
        bool handled = false; // not consulted: the handler fills in UserID and Password
        OnAuthenticationNeeded(handled);
    }

    if (!Proxy.empty()) {
        // The firewall forms are not tested: the server log-on that follows decides.
        switch (FirewallType) {
        case FTUser:
            reply = Transaction("USER " + UserID + "@" + Host);
            break;
        case FtOpen:
            reply = Transaction("OPEN " + Host);
            break;
        case FtSite:
            reply = Transaction("SITE " + Host);
            break;
        }
    }
    if (Proxy.empty() || FirewallType != FTUser) {
        StatusMessage(kStatusReply, "USER " + UserID);
        reply = Transaction("USER " + UserID);
        if (kLogOnRefused.Contains(ReplyNumber))
            LogOnFailed(reply);
    }
    if (ReplyNumber == kNeedPassword) {
        StatusMessage(kStatusReply, "PASS "); // never the password itself
        reply = Transaction("PASS " + Password);
        if (kLogOnRefused.Contains(ReplyNumber))
            LogOnFailed(reply);
    }
    if (Security != TFtpSecurity::None)
        ProtectDataConnections();
    if (OnConnect)
        OnConnect(this);
}

void TFtpClient::LogOnFailed(const std::string& ReplyLine) {
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(ReplyLine);
}

void TFtpClient::Disconnect() {
    FCanceled = false;
    if (!Connected)
        return;
    StatusMessage(kStatusReply, "QUIT");
    std::string reply;
    try {
        Vendor = 2411;
        if (DataAvailable())
            Read(0);
        // A server that closes instead of answering QUIT has logged us off all the same.
        reply = TransactionWithReply("QUIT", false);
    } catch (...) {
        if (Connected) // a reply that could not be read has closed it already
            TStreamSocket::Disconnect();
        throw;
    }
    TStreamSocket::Disconnect();
    if (kStepRefused.Contains(ReplyNumber))
        throw FTPException(reply);
}

std::string TFtpClient::Transaction(const std::string& CommandString) {
    return TransactionWithReply(CommandString, true);
}

std::string TFtpClient::TransactionWithReply(const std::string& CommandString, bool closeIsError) {
    // A line break (or a NUL, which would cut the line end off) would let a field's text
    // carry a second command to the server.
    if (!IsOneCommandLine(CommandString))
        throw FTPException("Invalid character in command", FtpErrorKind::InvalidCommand);
    const std::string first = ReadInStep([&] { return TStreamSocket::Transaction(CommandString); });
    if (first.empty()) {
        if (closeIsError)
            ConnectionClosedByServer();
        return first;
    }
    if (!HasReplyCode(first))
        InvalidReply(first);
    ReadContinuationLines(first, closeIsError);
    return first;
}

std::string TFtpClient::ReadFirstReplyLine() {
    const std::string line = ReadInStep([this] { return ReadLn(); });
    if (line.empty())
        ConnectionClosedByServer();
    StatusMessage(kStatusReply, line);
    if (!HasReplyCode(line))
        InvalidReply(line);
    return line;
}

void TFtpClient::ReadReplyLines(const std::string& ReplyLine) {
    ReadContinuationLines(ReplyLine, true);
}

void TFtpClient::ReadContinuationLines(const std::string& ReplyLine, bool closeIsError) {
    if (!StartsMultiLineReply(ReplyLine))
        return;
    int lines = 1;
    long bytes = static_cast<long>(ReplyLine.size());
    for (;;) {
        const std::string line = ReadInStep([this] { return ReadLn(); });
        if (line.empty()) {
            // The server closed in the middle of the reply; there is nothing to examine.
            if (closeIsError)
                ConnectionClosedByServer();
            return;
        }
        StatusMessage(kStatusReply, line);
        ++lines;
        bytes += static_cast<long>(line.size());
        if (lines > kMaxReplyLines || bytes > kMaxReplyBytes)
            InvalidReply(ReplyLine);
        if (EndsMultiLineReply(ReplyLine, line))
            return;
    }
}

void TFtpClient::ConnectionClosedByServer() {
    connectionLost_ = true;
    // Our side of the connection is useless now; close it so that Connected says so.
    if (Connected)
        TStreamSocket::Disconnect();
    throw ESockError("Connection closed by server", SockErrorKind::ConnectionClosed);
}

void TFtpClient::InvalidReply(const std::string& Line) {
    // Whatever follows belongs to no command that could be told; reading on would pair
    // every later reply with the wrong command.
    if (Connected)
        TStreamSocket::Disconnect();
    throw FTPException("Invalid reply from server: " + QuotedReply(Line),
                       FtpErrorKind::InvalidReply);
}

std::string TFtpClient::ReadInStep(const std::function<std::string()>& read) {
    try {
        return read();
    } catch (const EAbortError&) {
        throw; // a cancel is the caller's to handle
    } catch (const ESockError& error) {
        // The connection failed under us (a reset, say, or a record that is not TLS); a line
        // too long is ours to refuse.
        if (error.Kind() == SockErrorKind::SocketCall || error.Kind() == SockErrorKind::TlsFailed)
            connectionLost_ = true;
        if (Connected)
            TStreamSocket::Disconnect();
        throw;
    }
}

bool TFtpClient::ConnectionLost() const {
    return !Connected && (connectionLost_ || ClosedByPeer());
}

void TFtpClient::Abort() {
    if (FDataConnection)
        FDataConnection->Cancel();
}

void TFtpClient::DoCommand(const std::string& CommandStr) {
    const TCmdType type = CommandTypeOf(CommandStr);
    FCanceled = false;
    CheckConnection();
    StatusMessage(kStatusReply, CommandStr);
    if (DataAvailable())
        Read(0); // a late reply of an earlier command must not be taken for this one's
    const std::string reply = Transaction(CommandStr);
    if (kFailure.Contains(ReplyNumber)) {
        if (OnUnSupportedFunction && kUnsupported.Contains(ReplyNumber))
            OnUnSupportedFunction(type);
        if (!OnFailure)
            throw FTPException(reply);
        bool handled = false;
        OnFailure(handled, type);
        if (!handled)
            throw FTPException(reply);
        return;
    }
    if (OnSuccess)
        OnSuccess(type);
}

void TFtpClient::ChangeDir(const std::string& DirName) {
    DoCommand("CWD " + DirName);
}

void TFtpClient::Mode(std::int32_t TheMode) {
    switch (TheMode) {
    case kModeAscii:
        DoCommand("TYPE A");
        break;
    case kModeBinary:
        DoCommand("TYPE I");
        break;
    case kModeLocal8:
        DoCommand("TYPE L 8");
        break;
    default:
        break;
    }
}
