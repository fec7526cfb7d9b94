#include "fuzz/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

// Far longer than any client needs on loopback; only a hung client reaches it, and the
// fuzzer's own time-out reports that.
constexpr int kLimitMs = 20000;

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::abort();
}

} // namespace

LoopbackPeer::~LoopbackPeer() {
    Join();
}

std::uint16_t LoopbackPeer::Serve(std::string bytes, std::size_t piece) {
    Join();
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        Die("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Die("listen");
    thread_ =
        std::thread([listener, bytes = std::move(bytes), piece] { Run(listener, bytes, piece); });
    return ntohs(address.sin_port);
}

void LoopbackPeer::Join() {
    if (thread_.joinable())
        thread_.join();
}

void LoopbackPeer::Run(int listener, const std::string& bytes, std::size_t piece) {
    pollfd waiting{listener, POLLIN, 0};
    const int fd = ::poll(&waiting, 1, kLimitMs) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
    ::close(listener);
    if (fd < 0)
        return; // the client never connected: it failed before, nothing to serve
    piece = std::max<std::size_t>(piece, 1);
    for (std::size_t sent = 0; sent < bytes.size();) {
        const auto n =
            ::send(fd, bytes.data() + sent, std::min(piece, bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break; // the client closed early; what it read so far is what it gets
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, kLimitMs) != 1 || ::recv(fd, sink, sizeof sink, 0) <= 0)
            break;
    }
    ::close(fd);
}

} // namespace fuzz
