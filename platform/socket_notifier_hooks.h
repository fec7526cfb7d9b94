// How the socket calls tell the notification registry what they did, so that the
// notifications follow the state of each socket, and how the other files of platform/ wait
// for one socket. Each system's socket_notifier file implements these. Internal to platform/.
#pragma once

#include "platform/socket_api.h"

namespace platform::detail {

// A connect was started; `error` is 0 while it is in progress, or the Windows Sockets number
// of an immediate failure, which is then reported through the connect notification.
// Returns false when the socket is not registered (the caller then reports the call's
// own result).
bool NotifyConnectStarted(SocketHandle socket, int error);
// The socket was received from or peeked: a read notification may come again.
void NotifyReadCalled(SocketHandle socket);
// An accept was made on the socket: the next pending connection is reported again.
void NotifyAcceptCalled(SocketHandle socket);
// The socket now listens.
void NotifyListening(SocketHandle socket);
// The handle is about to be closed: forget its registration.
void NotifyClosing(SocketHandle socket);
// Sets the number that SocketLastError() reports.
void SetLastSocketError(int error);
// Whether the socket is registered (and so must not block).
bool IsRegistered(SocketHandle socket);

// Blocks in the event dispatcher until `socket` is readable (or, with `forRoom`, has room
// for more bytes), an event has been handled, or `maxMilliseconds` have passed. Returns soon
// when the socket is ready already.
void WaitForSocket(SocketHandle socket, bool forRoom, int maxMilliseconds);

} // namespace platform::detail
