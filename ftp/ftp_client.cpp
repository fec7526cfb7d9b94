// TFtpClient's control connection: construction, log-on, reply reading, commands, log-off.
#include "ftp/ftp_client.h"

#include "ftp/reply_parsing.h"

#include <exception>

namespace {

bool InRange(int value, int low, int high) {
    return value >= low && value <= high;
}

} // namespace

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
    ClearInput();
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
        StatusMessage(1, "Disconnected");
        std::rethrow_exception(cause);
    }
}

void TFtpClient::LogOn() {
    const std::string greeting = ReadInStep([this] { return ReadLn(); });
    if (greeting.empty())
        ConnectionClosedByServer();
    StatusMessage(1, greeting);
    ReplyNumber = ReplyNumberOf(greeting);
    ReadContinuationLines(greeting, true);
    if (ReplyNumber > 400)
        LogOnFailed(greeting);

    std::string reply;
    if (FWAuthenticate) {
        reply = Transaction("USER " + FWUserID);
        if (InRange(ReplyNumber, 401, 599))
            LogOnFailed(reply);
        if (ReplyNumber == 331) {
            StatusMessage(1, "PASS ");
            reply = Transaction("PASS " + FWPassword);
            if (InRange(ReplyNumber, 401, 599))
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
        StatusMessage(1, "USER " + UserID);
        reply = Transaction("USER " + UserID);
        if (InRange(ReplyNumber, 401, 599))
            LogOnFailed(reply);
    }
    if (ReplyNumber == 331) {
        StatusMessage(1, "PASS "); // never the password itself
        reply = Transaction("PASS " + Password);
        if (InRange(ReplyNumber, 401, 599))
            LogOnFailed(reply);
    }
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
    StatusMessage(1, "QUIT");
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
    if (InRange(ReplyNumber, 301, 599))
        throw FTPException(reply);
}

std::string TFtpClient::Transaction(const std::string& CommandString) {
    return TransactionWithReply(CommandString, true);
}

std::string TFtpClient::TransactionWithReply(const std::string& CommandString, bool closeIsError) {
    // A line break (or a NUL, which would cut the line end off) would let a field's text
    // carry a second command to the server.
    if (CommandString.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw FTPException("Invalid character in command");
    const std::string first = ReadInStep([&] { return TStreamSocket::Transaction(CommandString); });
    if (first.empty()) {
        if (closeIsError)
            ConnectionClosedByServer();
        return first;
    }
    ReadContinuationLines(first, closeIsError);
    return first;
}

void TFtpClient::ReadReplyLines(const std::string& ReplyLine) {
    ReadContinuationLines(ReplyLine, true);
}

void TFtpClient::ReadContinuationLines(const std::string& ReplyLine, bool closeIsError) {
    std::string line = ReplyLine;
    while (IsContinued(line)) {
        line = ReadInStep([this] { return ReadLn(); });
        if (line.empty()) {
            // The server closed in the middle of the reply; there is nothing to examine.
            if (closeIsError)
                ConnectionClosedByServer();
            return;
        }
        StatusMessage(1, line);
    }
}

void TFtpClient::ConnectionClosedByServer() {
    // Our side of the connection is useless now; close it so that Connected says so.
    if (Connected)
        TStreamSocket::Disconnect();
    throw ESockError("Connection closed by server");
}

std::string TFtpClient::ReadInStep(const std::function<std::string()>& read) {
    try {
        return read();
    } catch (const EAbortError&) {
        throw; // a cancel is the caller's to handle
    } catch (const ESockError&) {
        if (Connected)
            TStreamSocket::Disconnect();
        throw;
    }
}

void TFtpClient::Abort() {
    if (FDataConnection)
        FDataConnection->Cancel();
}

void TFtpClient::DoCommand(const std::string& CommandStr) {
    const TCmdType type = CommandTypeOf(CommandStr);
    FCanceled = false;
    CheckConnection();
    StatusMessage(1, CommandStr);
    if (DataAvailable())
        Read(0); // a late reply of an earlier command must not be taken for this one's
    const std::string reply = Transaction(CommandStr);
    if (InRange(ReplyNumber, 400, 599)) {
        if (OnUnSupportedFunction && InRange(ReplyNumber, 500, 502))
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
    case 1:
        DoCommand("TYPE A");
        break;
    case 2:
        DoCommand("TYPE I");
        break;
    case 3:
        DoCommand("TYPE L 8");
        break;
    default:
        break;
    }
}
