// TFtpClient::Upload: one file over a fresh data connection, active (PORT) or passive (PASV).
#include "ftp/ftp_client.h"

#include "ftp/reply_parsing.h"
#include "platform/file_reader.h"
#include "platform/socket_api.h"

namespace {

bool InRange(int value, int low, int high) {
    return value >= low && value <= high;
}

platform::SocketHandle AsHandle(TSocket socket) {
    return socket == kInvalidSocket ? platform::kNoSocket : socket;
}

} // namespace

void TFtpClient::Upload(const std::string& LocalFile, const std::string& RemoteFile) {
    try {
        FCanceled = false;
        CheckConnection();
        bool completed = false;
        {
            std::unique_lock transfer(FTransferLock);
            try {
                completed = Transfer(LocalFile, RemoteFile);
            } catch (...) {
                FDataConnection.reset();
                throw;
            }
            FDataConnection.reset();
        }
        // Only now: the data connection is gone and the lock is free.
        if (completed && OnSuccess)
            OnSuccess(ctUpload);
    } catch (...) {
        if (!OnFailure)
            throw;
        bool handled = false;
        OnFailure(handled, ctUpload);
        if (!handled)
            throw;
    }
}

bool TFtpClient::Transfer(const std::string& LocalFile, const std::string& RemoteFile) {
    if (DataAvailable())
        Read(0); // stale input must not be taken for the replies of this upload

    FDataConnection = std::make_unique<TStreamSocket>(this);
    FDataConnection->TimeOut = TimeOut;
    if (OnPacketSent)
        FDataConnection->OnPacketSent = OnPacketSent;

    // Only the size is needed here; the file is streamed by SendFile.
    BytesTotal = platform::FileReader(LocalFile).Size();

    if (Passive) {
        const std::string reply = Transaction("PASV");
        if (ReplyNumber >= 500)
            return !UploadFailureHandled(reply);
        FDataConnection->Port = PassivePort(reply);
        // The address in the reply is not trusted: the data goes where the control went.
        FDataConnection->Host = Host;
        FDataConnection->Connect();
    } else {
        FDataConnection->Port = 0;
        FDataConnection->Listen(true);
        const std::string reply =
            Transaction("PORT " + GetLocalAddress() + FDataConnection->GetPortString());
        if (InRange(ReplyNumber, 301, 599))
            return !UploadFailureHandled(reply);
    }

    std::string reply;
    if (RemoteFile.empty()) {
        StatusMessage(1, "STOR " + LocalFile);
        reply = Transaction("STOR " + RemoteNameOf(LocalFile));
    } else {
        StatusMessage(1, "STOR " + RemoteFile);
        reply = Transaction("STOR " + RemoteFile);
    }
    if (InRange(ReplyNumber, 301, 599)) {
        if (OnUnSupportedFunction && InRange(ReplyNumber, 500, 502))
            OnUnSupportedFunction(ctUpload);
        return !UploadFailureHandled(reply);
    }

    if (!Passive)
        AcceptDataConnection();

    if (OnTransactionStart)
        OnTransactionStart(this);
    // A cancel or time-out before the data went out means the file was not stored.
    if (FCanceled || FTimedOut) {
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
    FDataConnection->SendFile(LocalFile);
    if (OnTransactionStop)
        OnTransactionStop(this);

    CloseDataConnection();

    // Without the final reply nobody knows whether the server kept the file.
    if (FCanceled || FTimedOut) {
        FCanceled = false;
        throw EAbortError("Socket readln aborted");
    }
    const std::string finalReply = ReadInStep([this] { return ReadLn(); });
    if (finalReply.empty())
        ConnectionClosedByServer();
    StatusMessage(1, finalReply);
    ReadReplyLines(finalReply);
    // The server may still refuse the file after the data (a full disk, for example).
    if (InRange(ReplyNumberOf(finalReply), 400, 599))
        return !UploadFailureHandled(finalReply);
    return true;
}

bool TFtpClient::UploadFailureHandled(const std::string& ReplyLine) {
    if (!OnFailure)
        throw FTPException(ReplyLine);
    bool handled = false;
    OnFailure(handled, ctUpload);
    if (!handled)
        throw FTPException(ReplyLine);
    return true;
}

void TFtpClient::AcceptDataConnection() {
    const TSocket listening = FDataConnection->FSocket;
    FDataConnection->FSocket = FDataConnection->Accept();
    platform::SocketClose(AsHandle(listening));
}

void TFtpClient::CloseDataConnection() {
    // In stream mode the close marks the end of the file; it must be the graceful one.
    platform::SocketSetLinger(AsHandle(FDataConnection->FSocket), false, 0);
    FDataConnection->RequestCloseSocket();
}
