#include "tests/support/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

namespace test_support {
namespace {

// Windows Sockets must be started once per process before the first call.
void Start() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw std::runtime_error("loopback: Windows Sockets did not start");
}

SOCKET Handle(int socket) {
    return static_cast<SOCKET>(socket);
}

int NewSocket() {
    Start();
    const SOCKET s =
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

bool ToAddress(const std::string& text, std::uint16_t port, sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return ::inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

int Connect(const std::string& text, std::uint16_t port, bool wait) {
    sockaddr_in peer{};
    if (!ToAddress(text, port, peer))
        return -1;
    const int fd = NewSocket();
    if (fd < 0)
        return -1;
    u_long nonBlocking = wait ? 0 : 1;
    ::ioctlsocket(Handle(fd), FIONBIO, &nonBlocking);
    if (::connect(Handle(fd), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 &&
        (wait || ::WSAGetLastError() != WSAEWOULDBLOCK)) {
        ::closesocket(Handle(fd));
        return -1;
    }
    return fd;
}

// Bound to 127.0.0.1 at a port the system chooses; listening unless the backlog is negative.
int Loopback(std::uint16_t& port, int backlog) {
    const int fd = NewSocket();
    if (fd < 0)
        throw std::runtime_error("loopback: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(Handle(fd), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(Handle(fd), backlog) != 0) ||
        ::getsockname(Handle(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(Handle(fd));
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
    return Connect(address, port, true);
}

int ConnectWithoutWaiting(const std::string& address, std::uint16_t port) {
    return Connect(address, port, false);
}

int ConnectFrom(const std::string& source, const std::string& address, std::uint16_t port) {
    sockaddr_in local{};
    sockaddr_in peer{};
    if (!ToAddress(source, 0, local) || !ToAddress(address, port, peer))
        return -1;
    const int fd = NewSocket();
    if (fd < 0)
        return -1;
    BoundBlockingCalls(fd, 10000);
    if (::bind(Handle(fd), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(Handle(fd), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        ::closesocket(Handle(fd));
        return -1;
    }
    return fd;
}

int AcceptOn(int listener) {
    const SOCKET s = ::accept(Handle(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

long SendSome(int socket, const char* data, std::size_t length) {
    return ::send(Handle(socket), data, static_cast<int>(length), 0);
}

long ReceiveSome(int socket, char* buffer, std::size_t length) {
    return ::recv(Handle(socket), buffer, static_cast<int>(length), 0);
}

bool LastFailureWasReset() {
    return ::WSAGetLastError() == WSAECONNRESET;
}

void MakeNonBlocking(int socket) {
    u_long nonBlocking = 1;
    ::ioctlsocket(Handle(socket), FIONBIO, &nonBlocking);
}

void BoundBlockingCalls(int socket, int milliseconds) {
    const DWORD bound = static_cast<DWORD>(milliseconds);
    const auto* value = reinterpret_cast<const char*>(&bound);
    ::setsockopt(Handle(socket), SOL_SOCKET, SO_RCVTIMEO, value, sizeof bound);
    ::setsockopt(Handle(socket), SOL_SOCKET, SO_SNDTIMEO, value, sizeof bound);
}

void ShutdownSocket(int socket) {
    ::shutdown(Handle(socket), SD_BOTH);
}

void CloseSocket(int socket) {
    if (socket >= 0)
        ::closesocket(Handle(socket));
}

void ResetSocket(int socket) {
    if (socket < 0)
        return;
    const linger abortive{1, 0};
    ::setsockopt(Handle(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
                 sizeof abortive);
    ::closesocket(Handle(socket));
}

int BytesWaiting(int socket) {
    u_long count = 0;
    if (::ioctlsocket(Handle(socket), FIONREAD, &count) != 0)
        return -1;
    return static_cast<int>(count);
}

int WaitReadable(int socket, int wake, int milliseconds) {
    WSAPOLLFD fds[2] = {{Handle(socket), POLLRDNORM, 0}, {Handle(wake), POLLRDNORM, 0}};
    if (::WSAPoll(fds, wake >= 0 ? 2 : 1, milliseconds) <= 0)
        return 0;
    if (wake >= 0 && fds[1].revents != 0)
        return 2;
    return fds[0].revents != 0 ? 1 : 0;
}

// Windows has no pipe that WSAPoll watches, so the signal is a loopback connection.
WakeSignal::WakeSignal() {
    std::uint16_t port = 0;
    const int listener = ListenLoopback(port, 1);
    write_ = ConnectTo("127.0.0.1", port);
    read_ = write_ >= 0 ? AcceptOn(listener) : -1;
    CloseSocket(listener);
    if (read_ < 0) {
        CloseSocket(write_);
        throw std::runtime_error("wake signal: no loopback connection");
    }
}

WakeSignal::~WakeSignal() {
    CloseSocket(read_);
    CloseSocket(write_);
}

void WakeSignal::Raise() {
    SendSome(write_, "s", 1);
}

} // namespace test_support
