// The zero-copy path of FileSender on Windows. TransmitFile is Windows' call for it, but it
// does not fit a socket that must never block: called plainly it returns only once the whole
// count has gone, holding the event pump for as long as the peer is slow; called overlapped,
// its completion would need a wait of its own beside the socket's notifications. So it is
// refused, and every block is read into the staging buffer (ReadFile) and sent from there.
#include "platform/file_sender.h"

namespace platform {

int FileSender::SendDirect(SocketHandle, std::size_t, bool& refused) {
    refused = true;
    return -1;
}

} // namespace platform
