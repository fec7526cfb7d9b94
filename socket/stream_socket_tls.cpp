// FTP over TLS in the socket layer: securing a connected socket, the transfers of the stream
// I/O once it is secured, and ending TLS before the socket closes. The TLS end itself
// (OpenSSL) lives in platform/; everything here waits the socket layer's way: a pumping
// wait for exactly what the connection needs, bounded by TimeOut and ended by Cancel.
#include "socket/stream_socket.h"

#include "platform/event_pump.h"
#include "platform/file_reader.h"
#include "platform/flag_scope.h"
#include "platform/tls_file_sender.h"
#include "socket/socket_scopes.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

namespace {

// Upper bound of one blocking wait; the socket's readiness, a cancel and the time-out all
// end it sooner, so this only bounds a missed wake-up (and how soon Pause is asked again).
constexpr int kTlsWaitBoundMs = 50;
// The block of a file that is read, encrypted and sent between two passes of the pump.
constexpr std::size_t kTlsFileBlock = 256 * 1024;

} // namespace

void TStreamSocket::StartTls(platform::TlsContext& Context, const std::string& HostName,
                             TStreamSocket* SessionOf) {
    StatusMessage(kStatusDetail, "Starting TLS");
    if (FTls)
        throw ESockError("The connection is already secured", SockErrorKind::TlsSetupFailed);
    try {
        FTls = std::make_unique<platform::TlsConnection>(Context, Handle(), HostName);
    } catch (const platform::ETlsError& error) {
        // Nothing may go out in clear once TLS was asked for.
        RequestCloseSocket();
        throw ESockError(error.Message(), SockErrorKind::TlsSetupFailed);
    }
    if (SessionOf != nullptr && SessionOf->FTls)
        FTls->ResumeSessionOf(*SessionOf->FTls);
    FTlsHandshaking = true;
}

bool TStreamSocket::CompleteTlsHandshake(const std::function<bool()>& Pause) {
    StatusMessage(kStatusDetail, "TLS Handshake");
    if (!FTls)
        throw ESockError("The connection is not being secured", SockErrorKind::TlsSetupFailed);
    platform::TlsConnection* const connection = FTls.get();
    std::string failure;
    SockErrorKind kind = SockErrorKind::TlsHandshakeFailed;
    {
        TimerScope timer(*this);
        platform::FlagScope busy(FTlsBusy);
        for (;;) {
            if (FTls.get() != connection) {
                failure = "TLS handshake failed: the connection was closed.";
                break;
            }
            if (FTimedOut) {
                failure = "TLS handshake timed out";
                kind = SockErrorKind::TimedOut;
                break;
            }
            if (FCanceled) {
                failure = "TLS handshake canceled";
                kind = SockErrorKind::Canceled;
                break;
            }
            const platform::TlsStep step = connection->Handshake();
            if (step == platform::TlsStep::Done) {
                FTlsHandshaking = false;
                return true;
            }
            if (step == platform::TlsStep::Failed) {
                failure = connection->Error();
                break;
            }
            if (Pause && Pause())
                return false;
            platform::WaitForTls(*connection, kTlsWaitBoundMs);
            platform::ProcessMessages();
        }
    }
    // A connection whose handshake did not complete can carry nothing: not in clear, and
    // not secured.
    if (Connected || FTls)
        RequestCloseSocket();
    throw ESockError(failure, kind);
}

void TStreamSocket::AcceptCertificate() {
    if (FTls)
        FTls->Accept();
}

void TStreamSocket::EndTls(std::int32_t BoundMs) {
    if (!FTls)
        return;
    StatusMessage(kStatusDetail, "Ending TLS");
    platform::TlsConnection* const connection = FTls.get();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(BoundMs);
    try {
        TimerScope timer(*this);
        platform::FlagScope busy(FTlsBusy);
        while (FTls.get() == connection && !FCanceled && !FTimedOut) {
            const platform::TlsStep step = connection->Shutdown();
            if (step == platform::TlsStep::Done || step == platform::TlsStep::Failed)
                break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            platform::WaitForTls(*connection,
                                 static_cast<int>(std::min<long long>(left, kTlsWaitBoundMs)));
            platform::ProcessMessages();
        }
    } catch (...) {
        // Closing goes on whatever happened here.
    }
}

void TStreamSocket::DropTls() {
    FTlsHandshaking = false;
    if (!FTls)
        return;
    // The close-notify goes out if the socket has room; nothing waits for the host here.
    try {
        FTls->Shutdown();
    } catch (...) {
        // The close-notify is a courtesy; the connection closes without it all the same.
    }
    FTls.reset();
}

bool TStreamSocket::InputWaiting() {
    char probe = 0;
    if (!FTls)
        return platform::SocketRecv(Handle(), &probe, 1, true) >= 1;
    if (FTlsHandshaking)
        return false;
    return FTls->Pending() || ReceiveSome(&probe, 1, true) >= 1;
}

int TStreamSocket::SendSome(const char* Data, int Length) {
    if (!FTls)
        return platform::SocketSend(Handle(), Data, Length);
    try {
        return FTls->Write(Data, Length);
    } catch (const platform::ETlsError& error) {
        throw ESockError(error.Message(), SockErrorKind::TlsFailed);
    }
}

int TStreamSocket::ReceiveSome(char* Buffer, int Length, bool Peek) {
    if (!FTls)
        return platform::SocketRecv(Handle(), Buffer, Length, Peek);
    try {
        return Peek ? FTls->Peek(Buffer, Length) : FTls->Read(Buffer, Length);
    } catch (const platform::ETlsError& error) {
        throw ESockError(error.Message(), SockErrorKind::TlsFailed);
    }
}

void TStreamSocket::WaitForInput() {
    if (!FTls) {
        PumpAndWait();
        return;
    }
    platform::WaitForTls(*FTls, kTlsWaitBoundMs); // returns at once while decrypted bytes wait
    platform::ProcessMessages();
}

std::string TStreamSocket::ReadSecured(std::size_t Count) {
    // Decrypted bytes can only be looked at one record at a time, so a count that spans
    // records is gathered by reading rather than by peeking at all of it first.
    std::string result;
    const std::size_t wanted = Count != 0 ? Count : kBufferSize;
    while (result.size() < wanted) {
        const std::size_t room = wanted - result.size();
        const int received = ReceiveSome(FBuffer.data(), static_cast<int>(room), false);
        if (received > 0) {
            result.append(FBuffer.data(), static_cast<std::size_t>(received));
            continue;
        }
        if (received == 0)
            return Count != 0 ? std::string() : result; // the peer closed
        std::string msg;
        CheckSocketError(platform::kWsaEWouldBlock, msg);
        if (Count == 0)
            break; // everything that was waiting
        if (FCanceled)
            break;
        WaitForInput();
    }
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
    return result;
}

void TStreamSocket::SendFileSecured(platform::FileReader& File) {
    platform::TlsConnection* const connection = FTls.get();
    // Larger blocks than a plain send: each is read once, encrypted into records and sent,
    // and the pump runs once per block, so a block of a few records costs the most in
    // passes of the pump and the least in cache.
    std::vector<char> staging(kTlsFileBlock);
    platform::TlsFileSender sender(File, *connection, staging.data(), staging.size());
    platform::FlagScope busy(FTlsBusy);
    // Records are not a whole number of segments: held back until segments are full, the
    // stream goes out in the fewest segments (and acknowledgements); however the sending
    // ends, the rest leaves at once.
    CorkScope cork(*this);
    bool ended = false; // the file has no more bytes, even if it shrank while being sent
    while (!ended && !FCanceled) {
        // A write takes one record at a time: a block's records all go before the pump runs
        // again, unless the socket has no room for them.
        std::size_t pass = 0;
        int sent = 0;
        try {
            do {
                sent = sender.Send(staging.size() - pass);
                pass += sent > 0 ? static_cast<std::size_t>(sent) : 0;
            } while (sent > 0 && pass < staging.size());
        } catch (const platform::ETlsError& error) {
            throw ESockError(error.Message(), SockErrorKind::TlsFailed);
        }
        if (pass > 0) {
            BytesSent += static_cast<std::int64_t>(pass);
            if (OnPacketSent)
                OnPacketSent(this);
        }
        if (sent == 0) {
            ended = true;
        } else if (sent < 0) {
            std::string msg;
            CheckSocketError(platform::kWsaEWouldBlock, msg);
            // No room (or TLS waits to read): block until the connection can go on, a
            // cancel or the time-out, instead of retrying at once.
            platform::WaitForTls(*connection, kTlsWaitBoundMs);
        }
        platform::ProcessMessages();
        if (FTls.get() != connection) {
            // A handler closed the connection under the transfer.
            std::string msg;
            ErrorMessage(platform::kWsaENotConnected, msg);
            if (OnError)
                OnError(this, platform::kWsaENotConnected, msg);
            throw ESockError(msg);
        }
    }
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
}
