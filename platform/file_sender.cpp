// What FileSender does the same on every system: the choice of path and the staged
// sending. The zero-copy call is each system's own (file_sender_posix.cpp, _win.cpp).
#include "platform/file_sender.h"

#include "platform/broken_pipe.h"
#include "platform/socket_notifier_hooks.h"

#include <algorithm>

namespace platform {
namespace {

// One call never sends more than an int can count.
constexpr std::size_t kLargestSend = std::size_t{1} << 30;

} // namespace

FileSender::FileSender(FileReader& file, char* staging, std::size_t stagingSize, Path path)
    : file_(file), staging_(staging), stagingSize_(stagingSize),
      // The zero-copy call cannot be told not to raise the broken-pipe signal, so it is used
      // only where the program ignores that signal (or the system has none); the staged path
      // sends through SocketSend, which never raises it.
      zeroCopy_(path == Path::ZeroCopy && BrokenPipeIgnored()) {}

int FileSender::Send(SocketHandle socket, std::size_t length) {
    if (length == 0)
        return 0;
    if (zeroCopy_) {
        bool refused = false;
        const int sent = SendDirect(socket, length, refused);
        if (!refused)
            return sent;
        // Nothing was taken from the file, so the staged path goes on at the same position.
        zeroCopy_ = false;
    }
    return SendStaged(socket, length);
}

int FileSender::SendStaged(SocketHandle socket, std::size_t length) {
    if (stagedBegin_ == stagedEnd_) {
        stagedBegin_ = 0;
        stagedEnd_ = file_.Read(staging_, std::min({length, stagingSize_, kLargestSend}));
        if (stagedEnd_ == 0)
            return 0;
    }
    const std::size_t count = std::min(length, stagedEnd_ - stagedBegin_);
    const int sent = SocketSend(socket, staging_ + stagedBegin_, static_cast<int>(count));
    if (sent > 0) {
        stagedBegin_ += static_cast<std::size_t>(sent);
        return sent;
    }
    if (sent == 0) // a stream socket takes nothing only when it has no room
        detail::SetLastSocketError(kWsaEWouldBlock);
    return -1;
}

void WaitForRoom(SocketHandle socket, int maxMilliseconds) {
    detail::WaitForSocket(socket, true, maxMilliseconds);
}

} // namespace platform
