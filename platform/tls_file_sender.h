// Sends the bytes of an open file through a TLS connection. The records must be made from
// the bytes in our own memory, so each block is read into a staging buffer and written from
// there; the zero-copy path of FileSender cannot take part.
#pragma once

#include "platform/file_reader.h"
#include "platform/tls_connection.h"

#include <cstddef>

namespace platform {

class TlsFileSender {
public:
    // `staging` (`stagingSize` bytes, owned by the caller) holds the block being sent.
    TlsFileSender(FileReader& file, TlsConnection& connection, char* staging,
                  std::size_t stagingSize);
    TlsFileSender(const TlsFileSender&) = delete;
    TlsFileSender& operator=(const TlsFileSender&) = delete;

    // As FileSender::Send: sends at most `length` further bytes of the file and returns the
    // count (above 0); 0 when the file has no more bytes; -1 when the connection took
    // nothing, with the number for SocketLastError() (kWsaEWouldBlock: wait with WaitForTls,
    // then call again with at least the same length). A read error of the file raises
    // Exception, a failure of the connection ETlsError.
    int Send(std::size_t length);

private:
    FileReader& file_;
    TlsConnection& connection_;
    char* staging_;
    std::size_t stagingSize_;
    std::size_t stagedBegin_ = 0; // unsent bytes of the staged block: [begin, end)
    std::size_t stagedEnd_ = 0;
};

} // namespace platform
