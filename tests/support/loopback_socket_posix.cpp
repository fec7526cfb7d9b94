#include "tests/support/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace test_support {
namespace {

bool ToAddress(const std::string& text, std::uint16_t port, sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return ::inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

int Connect(const std::string& text, std::uint16_t port, int flags) {
    sockaddr_in peer{};
    if (!ToAddress(text, port, peer))
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 &&
        !(flags != 0 && errno == EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Bound to 127.0.0.1 at a port the system chooses; listening unless the backlog is negative.
int Loopback(std::uint16_t& port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("loopback: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("loopback: bind or listen failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int ListenLoopback(std::uint16_t& port, int backlog) {
    return Loopback(port, backlog);
}

int BindLoopback(std::uint16_t& port) {
    return Loopback(port, -1);
}

int ConnectTo(const std::string& address, std::uint16_t port) {
    return Connect(address, port, 0);
}

int ConnectWithoutWaiting(const std::string& address, std::uint16_t port) {
    return Connect(address, port, SOCK_NONBLOCK);
}

int ConnectFrom(const std::string& source, const std::string& address, std::uint16_t port) {
    sockaddr_in local{};
    sockaddr_in peer{};
    if (!ToAddress(source, 0, local) || !ToAddress(address, port, peer))
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    BoundBlockingCalls(fd, 10000);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int AcceptOn(int listener) {
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

long SendSome(int socket, const char* data, std::size_t length) {
    return ::send(socket, data, length, MSG_NOSIGNAL);
}

long ReceiveSome(int socket, char* buffer, std::size_t length) {
    return ::recv(socket, buffer, length, 0);
}

bool LastFailureWasReset() {
    return errno == ECONNRESET;
}

void MakeNonBlocking(int socket) {
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
}

void BoundBlockingCalls(int socket, int milliseconds) {
    const timeval bound{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
}

void ShutdownSocket(int socket) {
    ::shutdown(socket, SHUT_RDWR);
}

void CloseSocket(int socket) {
    if (socket >= 0)
        ::close(socket);
}

void ResetSocket(int socket) {
    if (socket < 0)
        return;
    const linger abortive{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(socket);
}

int BytesWaiting(int socket) {
    int count = 0;
    if (::ioctl(socket, FIONREAD, &count) != 0)
        return -1;
    return count;
}

int WaitReadable(int socket, int wake, int milliseconds) {
    pollfd fds[2] = {{socket, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, wake >= 0 ? 2 : 1, milliseconds) <= 0)
        return 0;
    if (wake >= 0 && fds[1].revents != 0)
        return 2;
    return fds[0].revents != 0 ? 1 : 0;
}

WakeSignal::WakeSignal() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("wake signal: pipe failed");
    read_ = ends[0];
    write_ = ends[1];
}

WakeSignal::~WakeSignal() {
    ::close(read_);
    ::close(write_);
}

void WakeSignal::Raise() {
    const char byte = 's';
    [[maybe_unused]] const auto written = ::write(write_, &byte, 1);
}

} // namespace test_support
