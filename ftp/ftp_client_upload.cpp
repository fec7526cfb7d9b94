// TFtpClient::Upload: one file over a fresh data connection (opened as ftp_data_connection.cpp
// says), then the data and the final reply.
#include "ftp/ftp_client.h"

#include "ftp/reply_codes.h"
#include "ftp/reply_parsing.h"
#include "platform/file_reader.h"

using namespace ftp_reply;

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

    NewDataConnection();

    // Only the size is needed here; the file is streamed by SendFile.
    BytesTotal = platform::FileReader(LocalFile).Size();

    if (!OpenDataConnection(LocalFile, RemoteFile))
        return false;

    std::string finalReply;
    try {
        finalReply = SendAndReadFinalReply(LocalFile);
    } catch (...) {
        // The server accepted STOR, so its final reply (226, 426, 451, ...) is still to come
        // when this upload is given up; it must never be read as the next command's reply.
        if (Connected)
            TStreamSocket::Disconnect();
        throw;
    }
    // The server may still refuse the file after the data (a full disk, for example).
    if (kFailure.Contains(ReplyNumberOf(finalReply)))
        return !UploadFailureHandled(finalReply);
    return true;
}

std::string TFtpClient::SendAndReadFinalReply(const std::string& LocalFile) {
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
    const std::string finalReply = ReadFirstReplyLine();
    ReadReplyLines(finalReply);
    return finalReply;
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
