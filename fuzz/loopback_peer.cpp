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
constexpr int kNextCommandLimitMs = 250;

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::abort();
}

} // namespace

LoopbackPeer::~LoopbackPeer() {
    Join();
}

int LoopbackPeer::Listen(std::uint16_t& port) {
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
    port = ntohs(address.sin_port);
    return listener;
}

int LoopbackPeer::AcceptOne(int listener) {
    pollfd waiting{listener, POLLIN, 0};
    const int fd = ::poll(&waiting, 1, kLimitMs) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
    ::close(listener);
    return fd; // -1: the client never connected, it failed before
}

void LoopbackPeer::SendAll(int fd, const std::string& bytes, std::size_t piece) {
    piece = std::max<std::size_t>(piece, 1);
    for (std::size_t sent = 0; sent < bytes.size();) {
        const auto n =
            ::send(fd, bytes.data() + sent, std::min(piece, bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return; // the client closed early; what it read so far is what it gets
        sent += static_cast<std::size_t>(n);
    }
}

void LoopbackPeer::EndAndDrain(int fd) {
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, kLimitMs) != 1 || ::recv(fd, sink, sizeof sink, 0) <= 0)
            break;
    }
    ::close(fd);
}

std::uint16_t LoopbackPeer::Serve(std::string bytes, std::size_t piece) {
    Join();
    std::uint16_t port = 0;
    const int listener = Listen(port);
    thread_ =
        std::thread([listener, bytes = std::move(bytes), piece] { Run(listener, bytes, piece); });
    return port;
}

std::uint16_t LoopbackPeer::ServeReplies(std::vector<std::string> replies) {
    Join();
    {
        std::lock_guard lock(mutex_);
        answers_.clear();
    }
    std::uint16_t port = 0;
    const int listener = Listen(port);
    thread_ = std::thread(
        [this, listener, replies = std::move(replies)] { Converse(listener, replies); });
    return port;
}

std::optional<std::size_t> LoopbackPeer::AnswerTo(const std::string& command) const {
    std::lock_guard lock(mutex_);
    const auto found = answers_.find(command);
    if (found == answers_.end())
        return std::nullopt;
    return found->second;
}

void LoopbackPeer::Join() {
    if (thread_.joinable())
        thread_.join();
}

void LoopbackPeer::Run(int listener, const std::string& bytes, std::size_t piece) {
    const int fd = AcceptOne(listener);
    if (fd < 0)
        return;
    SendAll(fd, bytes, piece);
    EndAndDrain(fd);
}

void LoopbackPeer::Converse(int listener, const std::vector<std::string>& replies) {
    const int fd = AcceptOne(listener);
    if (fd < 0)
        return;
    std::string pending;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        if (i > 0) {
            // The next command line, without its line end.
            std::size_t lf = pending.find('\n');
            while (lf == std::string::npos) {
                char block[4096];
                pollfd readable{fd, POLLIN, 0};
                // A client that sends nothing for this long is waiting for more of the last
                // reply; ending the conversation shows it the close instead of a stall.
                if (::poll(&readable, 1, kNextCommandLimitMs) != 1)
                    break;
                const auto n = ::recv(fd, block, sizeof block, 0);
                if (n <= 0)
                    break;
                pending.append(block, static_cast<std::size_t>(n));
                lf = pending.find('\n');
            }
            if (lf == std::string::npos)
                break; // the client stopped talking
            std::string command = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (!command.empty() && command.back() == '\r')
                command.pop_back();
            std::lock_guard lock(mutex_);
            answers_.emplace(command, i);
        }
        SendAll(fd, replies[i], replies[i].size());
    }
    EndAndDrain(fd);
}

} // namespace fuzz
