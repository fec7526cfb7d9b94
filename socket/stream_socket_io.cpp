// Byte and line I/O over the connected socket. Reading peeks first and then removes exactly
// what it takes, so the socket's own receive queue is the only receive buffer.
#include "socket/stream_socket.h"

#include "platform/event_pump.h"
#include "platform/file_reader.h"
#include "platform/file_sender.h"
#include "socket/socket_scopes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Reply numbers are 16-bit signed; larger numbers stay at the largest one.
constexpr long long kLargestReplyNumber = std::numeric_limits<std::int16_t>::max();
constexpr std::size_t kReplyDigits = 10;
// Upper bound of one wait for room in the send queue; the room itself, a cancel and the
// time-out all end the wait sooner, so this only bounds a missed wake-up.
constexpr int kRoomWaitBoundMs = 50;

} // namespace

void TStreamSocket::SendBuffer(const char* Value, std::uint16_t BufLen) {
    StatusMessage(kStatusTransfer, "Sending Buffer");
    {
        TimerScope timer(*this);
        if (!FCanceled) {
            const std::size_t length = BufLen != 0 ? BufLen : std::strlen(Value);
            std::size_t remaining = length;
            while (remaining > 0 && !FCanceled) {
                const int sent =
                    SendSome(Value + (length - remaining), static_cast<int>(remaining));
                if (sent == 0)
                    break;
                if (sent > 0) {
                    remaining -= static_cast<std::size_t>(sent);
                    continue;
                }
                std::string msg;
                CheckSocketError(platform::kWsaEWouldBlock, msg);
                // The peer is not reading: wait for room (or a cancel, or the time-out)
                // instead of retrying at once.
                WaitForInput();
            }
        }
    }
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TStreamSocket::Write(const std::string& Str) {
    StatusMessage(kStatusDetail, "Write");
    // The text is a zero-terminated string: it ends at its first NUL. A text longer than
    // one send's 16-bit length goes out in pieces.
    const std::size_t length = std::strlen(Str.c_str());
    constexpr std::size_t kPiece = std::numeric_limits<std::uint16_t>::max();
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min(length - offset, kPiece);
        std::memcpy(FBuffer.data(), Str.data() + offset, piece);
        FBuffer[piece] = '\0';
        SendBuffer(FBuffer.data(), static_cast<std::uint16_t>(piece));
        offset += piece;
    } while (offset < length);
}

void TStreamSocket::Writeln(const std::string& Str) {
    StatusMessage(kStatusDetail, "Writeln");
    Write(Str + "\r\n");
}

std::string TStreamSocket::Read(std::uint16_t Value) {
    StatusMessage(kStatusDetail, "Read( " + std::to_string(Value) + " )");
    if (FTls)
        return ReadSecured(Value);
    std::size_t count = Value;
    if (count == 0) {
        const int waiting = platform::SocketRecv(Handle(), FBuffer.data(), kBufferSize, true);
        if (waiting < 0) {
            std::string msg;
            CheckSocketError(platform::kWsaEWouldBlock, msg);
            return {};
        }
        count = static_cast<std::size_t>(waiting);
    } else {
        do {
            const int waiting = platform::SocketRecv(Handle(), FBuffer.data(), kBufferSize, true);
            if (waiting >= 0 && static_cast<std::size_t>(waiting) >= count)
                break;
            if (waiting == 0)
                return {}; // the peer closed
            if (waiting < 0) {
                std::string msg;
                CheckSocketError(platform::kWsaEWouldBlock, msg);
            }
            PumpAndWait();
        } while (!FCanceled);
    }
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
    if (count == 0)
        return {};
    std::string result(count, '\0');
    const int received =
        platform::SocketRecv(Handle(), result.data(), static_cast<int>(count), false);
    result.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
    return result;
}

std::string TStreamSocket::ReadLn() {
    StatusMessage(kStatusDetail, "ReadLn");
    // A cancel that came before the wait began ends it as one that comes during it.
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket readln aborted");
    }
    TimerScope timer(*this);
    std::string result;
    std::size_t taken = 0; // bytes of this line already moved into the result
    std::size_t lineEnd = 0;
    bool found = false;
    do {
        // FBuffer mirrors the line from its start; a line that does not fit is refused
        // rather than peeked beyond the buffer.
        if (taken >= kBufferSize)
            throw ESockError("Line too long", SockErrorKind::LineTooLong);
        const int peeked =
            ReceiveSome(FBuffer.data() + taken, static_cast<int>(kBufferSize - taken), true);
        if (peeked == 0)
            return {}; // the peer closed: a partial line is dropped
        if (peeked < 0) {
            LastErrorNo = platform::SocketLastError();
            if (LastErrorNo == platform::kWsaENotConnected)
                return {};
            std::string msg;
            CheckSocketError(platform::kWsaEWouldBlock, msg);
        } else {
            const std::size_t valid = taken + static_cast<std::size_t>(peeked);
            // The bytes before `taken` were searched in earlier passes.
            const char* lf =
                static_cast<const char*>(std::memchr(FBuffer.data() + taken, '\n', valid - taken));
            if (lf != nullptr) {
                lineEnd = static_cast<std::size_t>(lf - FBuffer.data());
                found = true;
                break;
            }
            result.resize(valid);
            const int received = ReceiveSome(result.data() + taken, peeked, false);
            taken += received > 0 ? static_cast<std::size_t>(received) : 0;
            result.resize(taken);
        }
        WaitForInput();
    } while (!FCanceled);
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket readln aborted");
    }
    if (found) {
        result.resize(lineEnd + 1);
        const int received =
            ReceiveSome(result.data() + taken, static_cast<int>(lineEnd + 1 - taken), false);
        result.resize(taken + (received > 0 ? static_cast<std::size_t>(received) : 0));
    }
    return result;
}

std::string TStreamSocket::Transaction(const std::string& CommandString) {
    StatusMessage(kStatusDetail, "Transaction");
    ReplyNumber = 0;
    Writeln(CommandString);
    TransactionReply = ReadLn();
    if (!TransactionReply.empty()) {
        StatusMessage(kStatusReply, TransactionReply);
        long long number = 0;
        std::size_t digits = 0;
        while (digits < kReplyDigits && digits < TransactionReply.size() &&
               TransactionReply[digits] >= '0' && TransactionReply[digits] <= '9') {
            number = number * 10 + (TransactionReply[digits] - '0');
            ++digits;
        }
        if (digits > 0)
            ReplyNumber = static_cast<std::int16_t>(std::min(number, kLargestReplyNumber));
    }
    return TransactionReply;
}

void TStreamSocket::SendFile(const std::string& Filename) {
    StatusMessage(kStatusDetail, "SendFile");
    platform::FileReader file(Filename);
    if (FTls) {
        SendFileSecured(file);
        return;
    }
    // The bytes go from the file to the socket without a copy through FBuffer where the
    // system allows it; FBuffer stages each block where it does not.
    platform::FileSender sender(file, FBuffer.data(), kBufferSize);
    // While the file streams, only full segments leave: a block's tail waits for the next
    // block instead of going out as a small segment of its own (which also costs the peer
    // an acknowledgement). However the sending ends, the rest is pushed out at once.
    CorkScope cork(*this);
    bool ended = false; // the file has no more bytes, even if it shrank while being sent
    do {
        if (!FCanceled) {
            std::size_t rest = static_cast<std::size_t>(std::min<std::int64_t>(
                static_cast<std::int64_t>(kBufferSize), file.Size() - file.Position()));
            while (rest > 0 && !FCanceled) {
                const int sent = sender.Send(Handle(), rest);
                if (sent == 0) {
                    ended = true;
                    break;
                }
                if (sent < 0) {
                    std::string msg;
                    CheckSocketError(platform::kWsaEWouldBlock, msg);
                    // No room: block until the peer has taken bytes (or a cancel or the
                    // time-out comes) instead of retrying at once.
                    platform::WaitForRoom(Handle(), kRoomWaitBoundMs);
                    platform::ProcessMessages();
                    continue;
                }
                BytesSent += sent;
                rest -= static_cast<std::size_t>(sent);
                if (OnPacketSent)
                    OnPacketSent(this);
                platform::ProcessMessages();
            }
        }
    } while (!ended && file.Position() < file.Size() && !FCanceled);
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
}

bool TStreamSocket::DataAvailable() {
    StatusMessage(kStatusDetail, "Data Available");
    // While TLS reads and writes in a wait of its own, a close notification is left to that
    // wait: it sees the end of the stream itself.
    if (FTlsHandshaking || FTlsBusy)
        return true;
    // Peeks into a byte of its own: FBuffer may hold the line that ReadLn is assembling
    // when a close notification asks this during ReadLn's wait.
    return InputWaiting();
}

void TStreamSocket::ClearInput() {
    StatusMessage(kStatusDetail, "Clearing Input");
    static thread_local std::array<char, kBufferSize> scratch;
    if (FTls && !FTlsHandshaking) {
        // Everything decrypted that waits now, up to one buffer.
        std::size_t dropped = 0;
        int received = 0;
        do {
            received =
                ReceiveSome(scratch.data(), static_cast<int>(scratch.size() - dropped), false);
            dropped += received > 0 ? static_cast<std::size_t>(received) : 0;
        } while (received > 0 && dropped < scratch.size());
        return;
    }
    platform::SocketRecv(Handle(), scratch.data(), static_cast<int>(scratch.size()), false);
}
