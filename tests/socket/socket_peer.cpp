#include "tests/socket/socket_peer.h"

#include "platform/event_pump.h"
#include "tests/support/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace test_support {
namespace {

constexpr int kPeerBoundMs = 10000;

void SetTimeouts(int connection) {
    timeval bound{kPeerBoundMs / 1000, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
}

} // namespace

Peer::Peer(std::function<void(int connection)> script) {
    listener_ = ListenLoopback(port_);
    thread_ = std::thread([this, script = std::move(script)] {
        pollfd waiting{listener_, POLLIN, 0};
        int connection = -1;
        if (::poll(&waiting, 1, kPeerBoundMs) == 1)
            connection = ::accept(listener_, nullptr, nullptr);
        if (connection >= 0)
            SetTimeouts(connection);
        script(connection);
        if (connection >= 0)
            ::close(connection);
        finished_ = true;
    });
}

Peer::~Peer() {
    signals_ = 1000000; // releases a script still waiting
    if (thread_.joinable())
        thread_.join();
    ::close(listener_);
}

bool Peer::WaitForSignal(int count) const {
    for (int waited = 0; waited < kPeerBoundMs && signals_ < count; waited += 5)
        Pause(5);
    return signals_ >= count;
}

void SendAll(int connection, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(connection, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string ReceiveExactly(int connection, std::size_t count) {
    std::string data(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::recv(connection, data.data() + got, count - got, 0);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return data;
}

std::string ReceiveUntilClosed(int connection) {
    std::string data;
    char block[65536];
    for (;;) {
        const ssize_t n = ::recv(connection, block, sizeof block, 0);
        if (n <= 0)
            return data;
        data.append(block, static_cast<std::size_t>(n));
    }
}

void CloseSocket(int connection) {
    ::close(connection);
}

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    const int fd = ListenLoopback(port);
    ::close(fd);
    return port;
}

FullListener::FullListener() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 0) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("full listener: listen failed");
    listener_ = fd;
    port_ = ntohs(address.sin_port);
    // Connections that are never accepted fill the queue; later SYNs are dropped.
    for (int& filler : fillers_) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    Pause(50);
}

FullListener::~FullListener() {
    for (int filler : fillers_)
        if (filler >= 0)
            ::close(filler);
    ::close(listener_);
}

int BytesWaiting(int socket) {
    int count = 0;
    if (::ioctl(socket, FIONREAD, &count) != 0)
        return -1;
    return count;
}

bool PumpUntil(const std::function<bool()>& done, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    platform::ProcessMessages();
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        platform::WaitForEvents(20);
        platform::ProcessMessages();
    }
    return true;
}

DelayedAction::DelayedAction(int delayMs, std::function<void()> action)
    : timer_(std::make_unique<TThreadTimer>()), action_(std::move(action)) {
    timer_->SetInterval(static_cast<std::uint32_t>(delayMs));
    timer_->SetOnTimer([this](TObject*) {
        timer_->SetEnabled(false);
        fired_ = true;
        action_();
    });
}

DelayedAction::~DelayedAction() = default;

} // namespace test_support
