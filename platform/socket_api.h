// The socket calls of the socket layer, over the system's sockets (POSIX sockets, or Windows
// Sockets on Windows). Every call that fails returns -1 (or kNoSocket) and leaves a Windows
// Sockets error number for SocketLastError(), because the socket layer's tolerated codes and
// its error texts are expressed in those numbers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;

// Windows Sockets error numbers that callers test by value.
inline constexpr int kWsaEInterrupted = 10004;
inline constexpr int kWsaEBadFile = 10009;
inline constexpr int kWsaEInvalid = 10022;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaENotSocket = 10038;
inline constexpr int kWsaEAddressInUse = 10048;
inline constexpr int kWsaEConnectionReset = 10054;
inline constexpr int kWsaENotConnected = 10057;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnectionRefused = 10061;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// The all-ones address that InetAddr gives for a text that is not an address.
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// An IPv4 endpoint; the address in network byte order, the port in host order.
struct SocketAddressV4 {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// Either family's endpoint. For IPv4 the first four bytes hold the address in network order;
// an IPv6 address keeps its scope (the interface of a link-local address), 0 for none.
enum class AddressFamily : std::uint8_t { IPv4, IPv6 };
struct SocketAddress {
    AddressFamily family = AddressFamily::IPv4;
    std::array<std::uint8_t, 16> bytes{};
    std::uint32_t scopeId = 0;
    std::uint16_t port = 0;

    static SocketAddress FromV4(const SocketAddressV4& address);
    // The IPv4 address in network order (0 for an IPv6 one).
    std::uint32_t V4() const;
    // No address: IPv4 0.0.0.0 (what an unresolved host leaves) or IPv6 ::.
    bool IsUnspecified() const;
    bool operator==(const SocketAddress& other) const = default;
};

// An address written as numbers: the dotted IPv4 forms that InetAddr takes (except the
// all-ones one), or an IPv6 literal, optionally with "%scope". Nothing for a name; no
// lookup is ever made.
std::optional<SocketAddress> NumericAddress(const std::string& text);
// The address without its port: "10.0.0.5", "2001:db8::5", "fe80::1%2".
std::string AddressText(const SocketAddress& address);

// What the socket library start-up reports about the socket layer underneath.
struct SocketLibraryInfo {
    std::uint16_t version = 0;     // low byte major, high byte minor
    std::uint16_t highVersion = 0; // the same form
    std::string description;
    std::string systemStatus;
    int maxSockets = 0;
    int maxUdpDatagram = 0;
};
SocketLibraryInfo SocketStartup();
void SocketCleanup();

// A new IPv4 stream socket (TCP). Blocking until registered with AsyncSelect.
SocketHandle SocketCreate();
// The same in the given family; an IPv6 one takes IPv6 only (no mapped IPv4 peers).
SocketHandle SocketCreate(AddressFamily family);
// The family the socket was made in; IPv4 when that cannot be told.
AddressFamily SocketFamily(SocketHandle socket);
// SO_LINGER with the given switch and time in seconds.
int SocketSetLinger(SocketHandle socket, bool on, int seconds);
// Holds back (on) a stream's segments that are not yet full, so that a stream written in
// blocks leaves in full segments whatever the blocks' size; switching it off sends what is
// held at once. False where the socket does not take it; the last error is left alone.
bool SocketSetCork(SocketHandle socket, bool on);
// Starts a connection. A socket registered with AsyncSelect never blocks: the call then
// fails with kWsaEWouldBlock and the outcome arrives as the connect notification.
int SocketConnect(SocketHandle socket, const SocketAddressV4& remote);
int SocketConnect(SocketHandle socket, const SocketAddress& remote);
int SocketSend(SocketHandle socket, const void* data, int length);
// Receives (or, with peek, copies without removing) up to length bytes.
int SocketRecv(SocketHandle socket, void* buffer, int length, bool peek);
int SocketBind(SocketHandle socket, const SocketAddressV4& local);
int SocketBind(SocketHandle socket, const SocketAddress& local);
int SocketListen(SocketHandle socket, int backlog);
SocketHandle SocketAccept(SocketHandle socket, SocketAddressV4* peer);
SocketHandle SocketAccept(SocketHandle socket, SocketAddress* peer);
int SocketLocalName(SocketHandle socket, SocketAddressV4* local);
int SocketLocalName(SocketHandle socket, SocketAddress* local);
// The address of the connected peer.
int SocketPeerName(SocketHandle socket, SocketAddress* peer);
// Closes the handle and ends its notifications.
int SocketClose(SocketHandle socket);
// The Windows Sockets number of the last failure of a call above on this thread.
int SocketLastError();

// Dotted IPv4 text to an address in network order; kInaddrNone when it is not one.
std::uint32_t InetAddr(const std::string& text);
// Address in network order to dotted text.
std::string InetNtoa(std::uint32_t address);

// The operating system's errno mapped to a Windows Sockets number (0 stays 0).
int WsaErrorFromErrno(int error);

} // namespace platform
