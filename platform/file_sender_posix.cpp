// The zero-copy path of FileSender on POSIX systems: sendfile from the file's own position.
#include "platform/file_sender.h"

#include "platform/exception.h"
#include "platform/socket_notifier_hooks.h"

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

} // namespace platform
