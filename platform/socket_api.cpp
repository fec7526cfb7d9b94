// What the socket calls do the same on every system: the addresses, the last error of each
// thread and the overloads that only forward. The calls themselves are each system's own
// (socket_api_posix.cpp, socket_api_win.cpp).
#include "platform/socket_api.h"

#include "platform/socket_notifier_hooks.h"

#include <cstring>

namespace platform {
namespace {

thread_local int lastError = 0;

} // namespace

int SocketLastError() {
    return lastError;
}

namespace detail {
void SetLastSocketError(int error) {
    lastError = error;
}
} // namespace detail

SocketHandle SocketCreate() {
    return SocketCreate(AddressFamily::IPv4);
}

int SocketConnect(SocketHandle socket, const SocketAddressV4& remote) {
    return SocketConnect(socket, SocketAddress::FromV4(remote));
}

SocketAddress SocketAddress::FromV4(const SocketAddressV4& address) {
    SocketAddress result;
    std::memcpy(result.bytes.data(), &address.address, 4);
    result.port = address.port;
    return result;
}

std::uint32_t SocketAddress::V4() const {
    std::uint32_t value = 0;
    if (family == AddressFamily::IPv4)
        std::memcpy(&value, bytes.data(), 4);
    return value;
}

bool SocketAddress::IsUnspecified() const {
    const std::size_t size = family == AddressFamily::IPv4 ? 4 : 16;
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

} // namespace platform
