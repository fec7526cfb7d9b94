// The socket calls over Windows Sockets 2. The library is started once for the life of the
// process, by whichever call needs it first; the numbers of its failures are already the ones
// that the interface reports, so they pass straight through.
#include "platform/socket_api.h"

#include "platform/socket_internal.h"
#include "platform/socket_notifier_hooks.h"
#include "platform/windows_api_win.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace platform {
namespace {

using detail::NativeSocket;

int Fail(int error) {
    detail::SetLastSocketError(error);
    return -1;
}

int FailFromLastError() {
    return Fail(::WSAGetLastError());
}

// Windows Sockets started once, on first use, and never cleaned up: a lookup worker may
// still be inside the resolver, and other owners' sockets may still be open, when the socket
// layer's last user goes. The process's end releases it.
struct Winsock {
    int result = 0;
    WSADATA data{};
};

const Winsock& StartedWinsock() {
    static const Winsock winsock = [] {
        Winsock started;
        started.result = ::WSAStartup(MAKEWORD(2, 2), &started.data);
        return started;
    }();
    return winsock;
}

// Either family as the system's address structure; the length is what the calls take.
int ToSockaddr(const SocketAddress& address, sockaddr_storage& storage) {
    storage = {};
    if (address.family == AddressFamily::IPv4) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = ::htons(address.port);
        std::memcpy(&v4.sin_addr, address.bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = ::htons(address.port);
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
        result.port = ::ntohs(v6.sin6_port);
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        std::memcpy(result.bytes.data(), &v4.sin_addr, 4);
        result.port = ::ntohs(v4.sin_port);
    }
    return result;
}

SocketAddressV4 FromSockaddr(const sockaddr_in& address) {
    return SocketAddressV4{address.sin_addr.s_addr, ::ntohs(address.sin_port)};
}

// Failures that a non-blocking connect reports through its connect notification rather
// than from the call itself, as on the other systems.
bool ReportedAsynchronously(int error) {
    return error == WSAECONNREFUSED || error == WSAETIMEDOUT || error == WSAENETUNREACH ||
           error == WSAEHOSTUNREACH || error == WSAECONNRESET;
}

// A handle that a child process must not inherit; Windows makes sockets inheritable unless
// told otherwise.
void KeepFromChildren(SOCKET socket) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

// The resolver's status as the interface reports it. Windows' resolver answers in Windows
// Sockets numbers already; only those that the other systems can tell apart are kept.
int LookupError(int status) {
    switch (status) {
    case 0:
        return 0;
    case WSAHOST_NOT_FOUND:
        return kWsaHostNotFound;
    case WSATRY_AGAIN:
        return WSATRY_AGAIN; // the name server did not answer for sure: "try again"
    case WSANO_DATA:
        return kWsaNoData;
    default:
        return kWsaNoRecovery;
    }
}

std::optional<SocketAddress> FromEntry(const ADDRINFOW& entry) {
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

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The dotted forms that the POSIX systems' inet_addr takes, parsed here so that a host text
// means the same on every system: one to four parts, each decimal, octal (a leading 0) or
// hexadecimal (0x); the last part fills the bytes that the earlier ones left; a blank ends
// the address, and whatever follows it is ignored.
std::optional<std::uint32_t> ParseDotted(const std::string& text) {
    static constexpr std::uint32_t kLargestLast[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    std::uint8_t parts[4] = {};
    std::size_t count = 0;
    const char* at = text.c_str();
    std::uint64_t value = 0;
    for (;;) {
        if (!IsDigit(*at))
            return std::nullopt;
        char* end = nullptr;
        errno = 0;
        value = std::strtoull(at, &end, 0);
        if (errno == ERANGE || value > 0xFFFFFFFFu)
            return std::nullopt;
        at = end;
        if (*at != '.')
            break;
        if (count > 2 || value > 0xFF)
            return std::nullopt;
        parts[count++] = static_cast<std::uint8_t>(value);
        ++at;
    }
    if (*at != '\0' && !IsBlank(*at))
        return std::nullopt;
    if (value > kLargestLast[count])
        return std::nullopt;
    const std::uint32_t host = (std::uint32_t{parts[0]} << 24) | (std::uint32_t{parts[1]} << 16) |
                               (std::uint32_t{parts[2]} << 8) | std::uint32_t{parts[3]};
    return ::htonl(host | static_cast<std::uint32_t>(value));
}

} // namespace

int WsaErrorFromErrno(int error) {
    // The C library's numbers on Windows; the sockets themselves report Windows Sockets
    // numbers, which need no mapping.
    switch (error) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
    case EWOULDBLOCK:
    case EINPROGRESS:
        // A non-blocking socket reports work in progress as "would block".
        return kWsaEWouldBlock;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return kWsaENotConnected;
    case ETIMEDOUT:
        return kWsaETimedOut;
    case ECONNREFUSED:
        return kWsaEConnectionRefused;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case ENOTEMPTY:
        return WSAENOTEMPTY;
    default:
        // Anything else is still a failure the caller must not tolerate.
        return kWsaEInvalid;
    }
}

SocketLibraryInfo SocketStartup() {
    const Winsock& winsock = StartedWinsock();
    SocketLibraryInfo info;
    if (winsock.result != 0) {
        info.description = "Windows Sockets could not be started";
        info.systemStatus = "Error " + std::to_string(winsock.result);
        return info;
    }
    info.version = winsock.data.wVersion;
    info.highVersion = winsock.data.wHighVersion;
    info.description = winsock.data.szDescription;
    info.systemStatus = winsock.data.szSystemStatus;
    // Version 2 no longer limits either; the socket layer shows what version 1.1 did.
    info.maxSockets = winsock.data.iMaxSockets != 0 ? winsock.data.iMaxSockets : 32767;
    info.maxUdpDatagram = winsock.data.iMaxUdpDg != 0 ? winsock.data.iMaxUdpDg : 65467;
    return info;
}

void SocketCleanup() {
    // Nothing here: Windows Sockets stays started until the process ends (StartedWinsock).
}

SocketHandle SocketCreate(AddressFamily family) {
    if (StartedWinsock().result != 0)
        return Fail(StartedWinsock().result);
    const bool v6 = family == AddressFamily::IPv6;
    // Overlapped, as socket() makes them; never inherited by a child process.
    const SOCKET socket = ::WSASocketW(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr,
                                       0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET)
        return FailFromLastError();
    // The address it binds is its own: without this another program could bind the same
    // port with SO_REUSEADDR and take over the connections meant for a listener, which the
    // other systems never allow.
    const DWORD exclusive = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    if (v6) {
        // An IPv6 listener must not take IPv4 peers as mapped addresses: the address it
        // announces is an IPv6 one, and only such peers are expected.
        const DWORD only = 1;
        ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only),
                     sizeof only);
    }
    return static_cast<SocketHandle>(socket);
}

AddressFamily SocketFamily(SocketHandle socket) {
    // The protocol the socket was made with; its name would not do, since Windows gives none
    // for a socket that is not bound yet.
    WSAPROTOCOL_INFOW protocol{};
    int length = sizeof protocol;
    if (::getsockopt(NativeSocket(socket), SOL_SOCKET, SO_PROTOCOL_INFOW,
                     reinterpret_cast<char*>(&protocol), &length) == 0 &&
        protocol.iAddressFamily == AF_INET6)
        return AddressFamily::IPv6;
    return AddressFamily::IPv4;
}

int SocketSetLinger(SocketHandle socket, bool on, int seconds) {
    linger value{};
    value.l_onoff = on ? 1 : 0;
    value.l_linger = static_cast<u_short>(std::clamp(seconds, 0, 0xFFFF));
    if (::setsockopt(NativeSocket(socket), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char*>(&value), sizeof value) != 0)
        return FailFromLastError();
    return 0;
}

bool SocketSetCork(SocketHandle, bool) {
    // Windows has no such switch. Nagle's algorithm, on by default, already holds back a
    // segment that is not full while earlier ones wait for their acknowledgement.
    return false;
}

int SocketConnect(SocketHandle socket, const SocketAddress& remote) {
    sockaddr_storage address{};
    const int length = ToSockaddr(remote, address);
    if (::connect(NativeSocket(socket), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        // Windows reports the connection as a connect notification all the same.
        if (detail::NotifyConnectStarted(socket, 0))
            return Fail(kWsaEWouldBlock);
        return 0;
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) {
        detail::NotifyConnectStarted(socket, 0);
        return Fail(kWsaEWouldBlock);
    }
    if (ReportedAsynchronously(error) && detail::NotifyConnectStarted(socket, error))
        return Fail(kWsaEWouldBlock);
    return Fail(error);
}

int SocketSend(SocketHandle socket, const void* data, int length) {
    if (length < 0)
        return Fail(kWsaEInvalid);
    // A peer that went away is an error to report; Windows raises no signal for it.
    const int sent = ::send(NativeSocket(socket), static_cast<const char*>(data), length, 0);
    if (sent == SOCKET_ERROR)
        return FailFromLastError();
    return sent;
}

int SocketRecv(SocketHandle socket, void* buffer, int length, bool peek) {
    if (length < 0)
        return Fail(kWsaEInvalid);
    const int received =
        ::recv(NativeSocket(socket), static_cast<char*>(buffer), length, peek ? MSG_PEEK : 0);
    const int error = ::WSAGetLastError();
    detail::NotifyReadCalled(socket);
    if (received == SOCKET_ERROR)
        return Fail(error);
    return received;
}

int SocketBind(SocketHandle socket, const SocketAddressV4& local) {
    return SocketBind(socket, SocketAddress::FromV4(local));
}

int SocketBind(SocketHandle socket, const SocketAddress& local) {
    sockaddr_storage address{};
    const int length = ToSockaddr(local, address);
    if (::bind(NativeSocket(socket), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return FailFromLastError();
    return 0;
}

int SocketListen(SocketHandle socket, int backlog) {
    if (::listen(NativeSocket(socket), backlog) != 0)
        return FailFromLastError();
    detail::NotifyListening(socket);
    return 0;
}

namespace {

// Accepts a connection, its peer's address in the form the caller keeps (`Storage` is the
// system's address type of that form). The new socket is non-blocking, as the listening one
// is; its notifications start once it is registered itself.
template <typename Storage, typename Address>
SocketHandle AcceptAs(SocketHandle socket, Address* peer) {
    Storage address{};
    int length = sizeof address;
    const SOCKET accepted =
        ::accept(NativeSocket(socket), reinterpret_cast<sockaddr*>(&address), &length);
    const int error = ::WSAGetLastError();
    detail::NotifyAcceptCalled(socket);
    if (accepted == INVALID_SOCKET)
        return Fail(error);
    KeepFromChildren(accepted);
    if (peer != nullptr)
        *peer = FromSockaddr(address);
    return static_cast<SocketHandle>(accepted);
}

// The socket's own or its peer's address (`query` is getsockname or getpeername), in the
// form the caller keeps; `Storage` is the system's address type of that form.
template <typename Storage, typename Address, typename Query>
int QueryName(Query query, SocketHandle socket, Address* result) {
    Storage address{};
    int length = sizeof address;
    if (query(NativeSocket(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return FailFromLastError();
    if (result != nullptr)
        *result = FromSockaddr(address);
    return 0;
}

} // namespace

SocketHandle SocketAccept(SocketHandle socket, SocketAddressV4* peer) {
    return AcceptAs<sockaddr_in>(socket, peer);
}

SocketHandle SocketAccept(SocketHandle socket, SocketAddress* peer) {
    return AcceptAs<sockaddr_storage>(socket, peer);
}

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
    if (::closesocket(NativeSocket(socket)) != 0)
        return FailFromLastError();
    return 0;
}

std::uint32_t InetAddr(const std::string& text) {
    if (text.find('\0') != std::string::npos)
        return kInaddrNone;
    return ParseDotted(text).value_or(kInaddrNone);
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
    if (text.find(':') == std::string::npos || StartedWinsock().result != 0)
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
    in6_addr value{};
    std::memcpy(&value, address.bytes.data(), 16);
    ::inet_ntop(AF_INET6, &value, text, sizeof text);
    std::string result = text;
    if (address.scopeId != 0)
        result += "%" + std::to_string(address.scopeId);
    return result;
}

namespace detail {

int ResolveHostName(const std::string& name, std::vector<SocketAddress>& addresses) {
    if (StartedWinsock().result != 0)
        return kWsaNoRecovery;
    // The wide call, so that a name beyond ASCII reaches the resolver as it was typed.
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    int error = LookupError(::GetAddrInfoW(WideText(name).c_str(), nullptr, &hints, &found));
    if (error == 0) {
        const std::size_t before = addresses.size();
        for (const ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
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
        ::FreeAddrInfoW(found);
    return error;
}

void ShutdownSending(SocketHandle socket) {
    ::shutdown(NativeSocket(socket), SD_SEND);
}

} // namespace detail
} // namespace platform
