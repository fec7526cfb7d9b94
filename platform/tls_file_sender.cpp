#include "platform/tls_file_sender.h"

#include "platform/socket_notifier_hooks.h"

#include <algorithm>

namespace platform {
namespace {

// One call never writes more than an int can count.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

} // namespace

TlsFileSender::TlsFileSender(FileReader& file, TlsConnection& connection, char* staging,
                             std::size_t stagingSize)
    : file_(file), connection_(connection), staging_(staging), stagingSize_(stagingSize) {}

int TlsFileSender::Send(std::size_t length) {
    if (length == 0)
        return 0;
    if (stagedBegin_ == stagedEnd_) {
        stagedBegin_ = 0;
        stagedEnd_ = file_.Read(staging_, std::min({length, stagingSize_, kLargestWrite}));
        if (stagedEnd_ == 0)
            return 0;
    }
    // A write that would block is offered the same bytes again: the staged block stays put
    // until the connection has taken it.
    const std::size_t count = std::min(length, stagedEnd_ - stagedBegin_);
    const int sent = connection_.Write(staging_ + stagedBegin_, static_cast<int>(count));
    if (sent > 0) {
        stagedBegin_ += static_cast<std::size_t>(sent);
        return sent;
    }
    if (sent == 0)
        detail::SetLastSocketError(kWsaEWouldBlock);
    return -1;
}

} // namespace platform
