#include "platform/socket_api.h"

#include "platform/socket_internal.h"
#include "platform/socket_notifier_hooks.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

int Fail(int error) {
    detail::SetLastSocketError(error);
    return -1;
}

int FailFromErrno() {
    return Fail(WsaErrorFromErrno(errno));
}

sockaddr_in ToSockaddr(const SocketAddressV4& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(address.port);
    result.sin_addr.s_addr = address.address;
    return result;
}

SocketAddressV4 FromSockaddr(const sockaddr_in& address) {
    return SocketAddressV4{address.sin_addr.s_addr, ntohs(address.sin_port)};
}

// Either family as the system's address structure; the length is what the calls take.
socklen_t ToSockaddr(const SocketAddress& address, sockaddr_storage& storage) {
    storage = {};
    if (address.family == AddressFamily::IPv4) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(address.port);
        std::memcpy(&v4.sin_addr, address.bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(address.port);
    std::memcpy(&v6.sin6_addr, address.bytes.data(), 16);
    v6.sin6_scope_id = address.scopeId;
    return sizeof(sockaddr_in6);
}

SocketAddress FromSockaddr(const sockaddr_storage& storage) {
    SocketAddress result;
    if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        result.family = AddressFamily::IPv6;
        std::memcpy(result.bytes.data(), &v6.sin6_addr, 16);
        result.scopeId = v6.sin6_scope_id;
        result.port = ntohs(v6.sin6_port);
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        std::memcpy(result.bytes.data(), &v4.sin_addr, 4);
        result.port = ntohs(v4.sin_port);
    }
    return result;
}

// Failures that a non-blocking connect reports through its connect notification rather
// than from the call itself: the socket layer expects them there, as Windows Sockets
// reports them.
bool ReportedAsynchronously(int error) {
    return error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH ||
           error == EHOSTUNREACH || error == ECONNRESET;
}

// The resolver's status as a Windows Sockets number.
int LookupError(int status) {
    switch (status) {
    case 0:
        return 0;
    case EAI_NONAME:
        return kWsaHostNotFound;
    case EAI_AGAIN:
        return 11002; // the name server did not answer for sure: "try again"
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_ADDRFAMILY:
        return kWsaNoData;
    default:
        return kWsaNoRecovery;
    }
}

std::optional<SocketAddress> FromEntry(const addrinfo& entry) {
    if (entry.ai_addr == nullptr)
        return std::nullopt;
    SocketAddress address;
    if (entry.ai_family == AF_INET && entry.ai_addrlen >= sizeof(sockaddr_in)) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(entry.ai_addr);
        std::memcpy(address.bytes.data(), &v4->sin_addr, 4);
        return address;
    }
    if (entry.ai_family == AF_INET6 && entry.ai_addrlen >= sizeof(sockaddr_in6)) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(entry.ai_addr);
        address.family = AddressFamily::IPv6;
        std::memcpy(address.bytes.data(), &v6->sin6_addr, 16);
        address.scopeId = v6->sin6_scope_id;
        return address;
    }
    return std::nullopt;
}

} // namespace

int WsaErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS:
        // A non-blocking socket reports work in progress as "would block".
        return kWsaEWouldBlock;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return kWsaENotConnected;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return kWsaETimedOut;
    case ECONNREFUSED:
        return kWsaEConnectionRefused;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        // Anything else is still a failure the caller must not tolerate.
        return kWsaEInvalid;
    }
}

SocketLibraryInfo SocketStartup() {
    SocketLibraryInfo info;
    info.version = 0x0101; // 1.1, the version the socket layer asks for
    info.highVersion = 0x0101;
    info.description = "POSIX sockets with emulated asynchronous notifications";
    info.systemStatus = "Running";
    rlimit files{};
    const rlim_t limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
    // Windows Sockets reports this in 16 bits; the socket layer keeps that form.
    info.maxSockets = static_cast<int>(limit > 65535 ? 65535 : limit);
    info.maxUdpDatagram = 65507; // largest IPv4 UDP payload
    return info;
}

void SocketCleanup() {
    // Nothing to shut down: POSIX sockets need no library start-up.
}

SocketHandle SocketCreate(AddressFamily family) {
    const bool v6 = family == AddressFamily::IPv6;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return FailFromErrno();
    if (v6) {
        // An IPv6 listener must not take IPv4 peers as mapped addresses: the address it
        // announces is an IPv6 one, and only such peers are expected.
        const int only = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    return fd;
}

AddressFamily SocketFamily(SocketHandle socket) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&storage), &length) == 0 &&
        storage.ss_family == AF_INET6)
        return AddressFamily::IPv6;
    return AddressFamily::IPv4;
}

int SocketSetLinger(SocketHandle socket, bool on, int seconds) {
    const linger value{on ? 1 : 0, seconds};
    if (::setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0)
        return FailFromErrno();
    return 0;
}

bool SocketSetCork(SocketHandle socket, bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_CORK, &value, sizeof value) == 0;
}

int SocketConnect(SocketHandle socket, const SocketAddress& remote) {
    sockaddr_storage address{};
    const socklen_t length = ToSockaddr(remote, address);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        if (detail::NotifyConnectStarted(socket, 0))
            return Fail(kWsaEWouldBlock);
        return 0;
    }
    const int error = errno;
    if (error == EINPROGRESS || error == EINTR) {
        detail::NotifyConnectStarted(socket, 0);
        return Fail(kWsaEWouldBlock);
    }
    if (ReportedAsynchronously(error) &&
        detail::NotifyConnectStarted(socket, WsaErrorFromErrno(error)))
        return Fail(kWsaEWouldBlock);
    return Fail(WsaErrorFromErrno(error));
}

int SocketSend(SocketHandle socket, const void* data, int length) {
    if (length < 0)
        return Fail(kWsaEInvalid);
    // MSG_NOSIGNAL: a peer that went away is an error to report, not a signal that ends
    // the program.
    const ssize_t sent = ::send(socket, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent < 0)
        return FailFromErrno();
    return static_cast<int>(sent);
}

int SocketRecv(SocketHandle socket, void* buffer, int length, bool peek) {
    if (length < 0)
        return Fail(kWsaEInvalid);
    const int flags = (peek ? MSG_PEEK : 0) | (detail::IsRegistered(socket) ? MSG_DONTWAIT : 0);
    const ssize_t received = ::recv(socket, buffer, static_cast<std::size_t>(length), flags);
    const int error = errno;
    detail::NotifyReadCalled(socket);
    if (received < 0)
        return Fail(WsaErrorFromErrno(error));
    return static_cast<int>(received);
}

int SocketBind(SocketHandle socket, const SocketAddressV4& local) {
    const sockaddr_in address = ToSockaddr(local);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return FailFromErrno();
    return 0;
}

int SocketBind(SocketHandle socket, const SocketAddress& local) {
    sockaddr_storage address{};
    const socklen_t length = ToSockaddr(local, address);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return FailFromErrno();
    return 0;
}

int SocketListen(SocketHandle socket, int backlog) {
    if (::listen(socket, backlog) != 0)
        return FailFromErrno();
    detail::NotifyListening(socket);
    return 0;
}

namespace {

// Accepts a connection, its peer's address in the form the caller keeps (`Storage` is the
// system's address type of that form).
template <typename Storage, typename Address>
SocketHandle AcceptAs(SocketHandle socket, Address* peer) {
    Storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(socket, reinterpret_cast<sockaddr*>(&address), &length,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
    const int error = errno;
    detail::NotifyAcceptCalled(socket);
    if (fd < 0)
        return Fail(WsaErrorFromErrno(error));
    if (peer != nullptr)
        *peer = FromSockaddr(address);
    return fd;
}

} // namespace

SocketHandle SocketAccept(SocketHandle socket, SocketAddressV4* peer) {
    return AcceptAs<sockaddr_in>(socket, peer);
}

SocketHandle SocketAccept(SocketHandle socket, SocketAddress* peer) {
    return AcceptAs<sockaddr_storage>(socket, peer);
}

namespace {

// The socket's own or its peer's address (`query` is getsockname or getpeername), in the
// form the caller keeps; `Storage` is the system's address type of that form.
template <typename Storage, typename Address>
int QueryName(int (*query)(int, sockaddr*, socklen_t*), SocketHandle socket, Address* result) {
    Storage address{};
    socklen_t length = sizeof address;
    if (query(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return FailFromErrno();
    if (result != nullptr)
        *result = FromSockaddr(address);
    return 0;
}

} // namespace

int SocketLocalName(SocketHandle socket, SocketAddress* local) {
    return QueryName<sockaddr_storage>(::getsockname, socket, local);
}

int SocketPeerName(SocketHandle socket, SocketAddress* peer) {
    return QueryName<sockaddr_storage>(::getpeername, socket, peer);
}

int SocketLocalName(SocketHandle socket, SocketAddressV4* local) {
    return QueryName<sockaddr_in>(::getsockname, socket, local);
}

int SocketClose(SocketHandle socket) {
    if (socket < 0)
        return Fail(kWsaENotSocket);
    detail::NotifyClosing(socket);
    if (::close(socket) != 0)
        return FailFromErrno();
    return 0;
}

std::uint32_t InetAddr(const std::string& text) {
    if (text.find('\0') != std::string::npos)
        return kInaddrNone;
    return ::inet_addr(text.c_str());
}

std::string InetNtoa(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    ::inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

std::optional<SocketAddress> NumericAddress(const std::string& text) {
    if (text.find('\0') != std::string::npos)
        return std::nullopt;
    const std::uint32_t v4 = InetAddr(text);
    if (v4 != kInaddrNone)
        return SocketAddress::FromV4({v4, 0});
    if (text.find(':') == std::string::npos)
        return std::nullopt;
    // Numeric only: the resolver turns the literal (and its scope) into an address without
    // asking any name service.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    sockaddr_storage storage{};
    std::memcpy(&storage, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof storage));
    ::freeaddrinfo(found);
    return FromSockaddr(storage);
}

std::string AddressText(const SocketAddress& address) {
    if (address.family == AddressFamily::IPv4)
        return InetNtoa(address.V4());
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
    std::string result = text;
    if (address.scopeId != 0)
        result += "%" + std::to_string(address.scopeId);
    return result;
}

namespace detail {

int ResolveHostName(const std::string& name, std::vector<SocketAddress>& addresses) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int error = LookupError(::getaddrinfo(name.c_str(), nullptr, &hints, &found));
    if (error == 0) {
        const std::size_t before = addresses.size();
        for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            const std::optional<SocketAddress> address = FromEntry(*entry);
            // The resolver's order is kept; an address it gives twice is tried once.
            if (address &&
                std::find(addresses.begin(), addresses.end(), *address) == addresses.end())
                addresses.push_back(*address);
        }
        if (addresses.size() == before)
            error = kWsaNoData;
    }
    if (found != nullptr)
        ::freeaddrinfo(found);
    return error;
}

void ShutdownSending(SocketHandle socket) {
    ::shutdown(socket, SHUT_WR);
}

} // namespace detail
} // namespace platform
