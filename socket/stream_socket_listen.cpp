// The listener of an active-mode data connection: listen on a port the system chooses, tell
// the PORT argument, accept the one incoming connection (from the one address expected,
// when the listener was given one).
#include "socket/stream_socket.h"

#include <algorithm>

std::string TStreamSocket::GetLocalAddress() {
    platform::SocketAddressV4 local;
    platform::SocketLocalName(Handle(), &local);
    std::string text = platform::InetNtoa(local.address);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string FormatPortString(std::uint16_t Port) {
    // Appended piece by piece: GCC 12 at -O3 takes `"," + std::string` for an overlapping
    // copy and warns.
    std::string text = ",";
    text += std::to_string(Port >> 8);
    text += ',';
    text += std::to_string(Port & 0xFF);
    return text;
}

std::string TStreamSocket::GetPortString() {
    platform::SocketAddressV4 local;
    platform::SocketLocalName(Handle(), &local);
    return FormatPortString(local.port);
}

platform::SocketAddress TStreamSocket::LocalSocketAddress() {
    platform::SocketAddress local;
    platform::SocketLocalName(Handle(), &local);
    return local;
}

std::string TStreamSocket::LocalAddressText() {
    platform::SocketAddress local = LocalSocketAddress();
    // The scope names an interface of this machine; it means nothing to the peer.
    local.scopeId = 0;
    return platform::AddressText(local);
}

std::uint16_t TStreamSocket::LocalPort() {
    return LocalSocketAddress().port;
}

platform::AddressFamily TStreamSocket::Family() {
    return platform::SocketFamily(Handle());
}

void TStreamSocket::Listen(bool SyncAccept) {
    Listen(SyncAccept, platform::AddressFamily::IPv4);
}

void TStreamSocket::Listen(bool SyncAccept, platform::AddressFamily Family) {
    // Any local address of the family: the unspecified one.
    platform::SocketAddress any;
    any.family = Family;
    ListenAt(any, SyncAccept, std::nullopt);
}

void TStreamSocket::Listen(bool SyncAccept, const platform::SocketAddress& Local,
                           const platform::SocketAddress& From) {
    ListenAt(Local, SyncAccept, From);
}

void TStreamSocket::ListenAt(platform::SocketAddress Local, bool SyncAccept,
                             const std::optional<platform::SocketAddress>& From) {
    StatusMessage(kStatusDetail, "Listening");
    DropHeldConnection();
    FAcceptFrom = From;
    if (FSocket == kInvalidSocket || platform::SocketFamily(Handle()) != Local.family)
        ReplaceSocket(Local.family);
    FSockAddr = Local;
    FSockAddr.port = static_cast<std::uint16_t>(Port & 0xFFFF);
    FAsyncDone = false;
    // Failures of bind and listen show as an accept notification that never comes.
    platform::SocketBind(Handle(), FSockAddr);
    platform::AsyncSelect(Handle(), FSockWindow.get(), SyncAccept ? kLookupMessage : kSocketMessage,
                          platform::kFdAccept);
    platform::SocketListen(Handle(), 1);
}

namespace {

// The same host: the address alone counts, never the port (nor an IPv6 scope).
bool SameAddress(const platform::SocketAddress& a, const platform::SocketAddress& b) {
    return a.family == b.family && a.bytes == b.bytes;
}

} // namespace

bool TStreamSocket::ScreenIncoming() {
    if (!FAcceptFrom || FHeldConnection != platform::kNoSocket)
        return true;
    for (;;) {
        platform::SocketAddress peer;
        const platform::SocketHandle incoming = platform::SocketAccept(Handle(), &peer);
        if (incoming == platform::kNoSocket)
            return platform::SocketLastError() != platform::kWsaEWouldBlock;
        if (SameAddress(peer, *FAcceptFrom)) {
            FHeldConnection = incoming;
            FHeldPeer = peer;
            return true;
        }
        // Another program's connection: it gets nothing, not even a TLS greeting, and a
        // reset tells it at once that it was refused.
        platform::SocketSetLinger(incoming, true, 0);
        platform::SocketClose(incoming);
        const std::string text = "Refused a data connection from " + platform::AddressText(peer);
        StatusMessage(kStatusDetail, text);
        if (!Destroying() && OnConnectionRefused)
            OnConnectionRefused(this, text);
    }
}

void TStreamSocket::DropHeldConnection() {
    if (FHeldConnection != platform::kNoSocket)
        platform::SocketClose(FHeldConnection);
    FHeldConnection = platform::kNoSocket;
}

TSocket TStreamSocket::Accept() {
    StatusMessage(kStatusTransfer, "Accepting");
    while (!FAsyncDone && !FCanceled)
        PumpAndWait();
    if (FCanceled)
        throw ESockError("Accepting Canceled", SockErrorKind::Canceled);
    if (!FLastEventOk)
        throw ESockError("Error creating Data Connection", SockErrorKind::DataConnection);
    platform::SocketAddress peer;
    platform::SocketHandle accepted = platform::kNoSocket;
    if (FAcceptFrom) {
        // Accepted already, when its notification screened it.
        accepted = std::exchange(FHeldConnection, platform::kNoSocket);
        peer = FHeldPeer;
    } else {
        accepted = platform::SocketAccept(Handle(), &peer);
    }
    if (accepted == platform::kNoSocket || accepted >= kInvalidSocket) {
        // No usable connection after all (or a handle beyond 16 bits): a failed data
        // connection, not a handle of 65535 that every later call would trip over.
        if (accepted != platform::kNoSocket)
            platform::SocketClose(accepted);
        throw ESockError("Error creating Data Connection", SockErrorKind::DataConnection);
    }
    platform::AsyncSelect(accepted, FSockWindow.get(), kSocketMessage, kSocketEvents);
    FSockAddr = peer;
    if (FCanceled) {
        // Nothing will use the connection: close it rather than leak the handle.
        platform::SocketClose(accepted);
        FCanceled = false;
        throw EAbortError("Socket send aborted");
    }
    return static_cast<TSocket>(accepted);
}

void TStreamSocket::TakeAcceptedConnection(TSocket Accepted) {
    const platform::SocketHandle listening = Handle();
    FSocket = Accepted;
    if (listening != platform::kNoSocket)
        platform::SocketClose(listening);
}

void TStreamSocket::CloseGracefully() {
    if (Handle() != platform::kNoSocket)
        platform::SocketSetLinger(Handle(), false, 0);
    RequestCloseSocket();
}
