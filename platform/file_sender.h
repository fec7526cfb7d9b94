// Sends the bytes of an open file into a connected socket with the system's zero-copy call
// (sendfile), so that an upload does not copy every byte through our own memory twice (read
// into a buffer, then send from it). Where the system refuses that call for the file or the
// socket, the sender reads each block into a staging buffer and sends it from there; on
// Windows it always does (file_sender_win.cpp says why).
#pragma once

#include "platform/file_reader.h"
#include "platform/socket_api.h"

#include <cstddef>
#include <cstdint>

namespace platform {

class FileSender {
public:
    enum class Path {
        ZeroCopy, // the system's file-to-socket call, staged only where it is refused
        Staged,   // always read into the staging buffer and send from there
    };

    // `staging` (`stagingSize` bytes, owned by the caller) holds the block being sent when the
    // zero-copy call is refused. The zero-copy call is used only while the program ignores the
    // broken-pipe signal (IgnoreBrokenPipe), so that a connection the peer has broken shows
    // only as a failed send.
    FileSender(FileReader& file, char* staging, std::size_t stagingSize,
               Path path = Path::ZeroCopy);
    FileSender(const FileSender&) = delete;
    FileSender& operator=(const FileSender&) = delete;

    // Sends at most `length` bytes of the file that follow those sent so far into `socket`
    // (taken anew on every call: a handler may have closed the one of the last call). Returns
    // the count
    // sent (above 0); 0 when the file has no more bytes (also when it shrank); -1 when the
    // socket took nothing, with the number for SocketLastError() (kWsaEWouldBlock when it has
    // no room). A read error of the file raises Exception.
    int Send(SocketHandle socket, std::size_t length);

    // Whether the bytes go by the zero-copy call (false once it was refused).
    bool ZeroCopy() const { return zeroCopy_; }

private:
    int SendDirect(SocketHandle socket, std::size_t length, bool& refused);
    int SendStaged(SocketHandle socket, std::size_t length);

    FileReader& file_;
    char* staging_;
    std::size_t stagingSize_;
    std::size_t stagedBegin_ = 0; // unsent bytes of the staged block: [begin, end)
    std::size_t stagedEnd_ = 0;
    bool zeroCopy_;
};

// Blocks in the event dispatcher until `socket` has room for more bytes, an event has been
// handled, or `maxMilliseconds` have passed. A send that would block waits here, so that it
// goes on as soon as the peer has taken bytes rather than at the next unrelated event.
void WaitForRoom(SocketHandle socket, int maxMilliseconds);

} // namespace platform
