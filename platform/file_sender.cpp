#include "platform/file_sender.h"

#include "platform/broken_pipe.h"
#include "platform/event_pump.h"
#include "platform/exception.h"
#include "platform/socket_notifier_hooks.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <sys/sendfile.h>

namespace platform {
namespace {

// One call never sends more than an int can count.
constexpr std::size_t kLargestSend = std::size_t{1} << 30;

// Errors by which the system says that this file cannot go to this socket by the zero-copy
// call at all; the same bytes can still be read and sent.
bool Refused(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ESPIPE ||
           error == EOVERFLOW;
}

} // namespace

FileSender::FileSender(FileReader& file, char* staging, std::size_t stagingSize, Path path)
    : file_(file), staging_(staging), stagingSize_(stagingSize),
      // The zero-copy call cannot be told not to raise the broken-pipe signal, so it is used
      // only where the program ignores that signal; the staged path sends with MSG_NOSIGNAL.
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

int FileSender::SendDirect(SocketHandle socket, std::size_t length, bool& refused) {
    const std::size_t count = std::min(length, kLargestSend);
    for (;;) {
        // No offset argument: the call moves the file's own position, the one that the staged
        // path reads from, so both paths can take turns.
        const ssize_t sent = ::sendfile(socket, file_.fd_, nullptr, count);
        if (sent >= 0) {
            file_.position_ += sent;
            return static_cast<int>(sent);
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (Refused(error)) {
            refused = true;
            return -1;
        }
        if (error == EIO)
            throw Exception(FormatMessage("Read error on file %s", file_.name_));
        detail::SetLastSocketError(WsaErrorFromErrno(error));
        return -1;
    }
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
    QSocketNotifier room(static_cast<qintptr>(socket), QSocketNotifier::Write);
    // Level-triggered: once it has woken the dispatcher it must not fire again in this wait.
    QObject::connect(&room, &QSocketNotifier::activated, &room,
                     [&room] { room.setEnabled(false); });
    WaitForEvents(maxMilliseconds);
}

} // namespace platform
