// What the other files of platform/ take from the socket calls beyond their public
// interface. Each system's socket_api file implements these. Internal to platform/.
#pragma once

#include "platform/socket_api.h"

#include <string>
#include <vector>

namespace platform::detail {

// Looks `name` up in both address families and appends every address the resolver gives to
// `addresses` (ports 0), in its order of preference, each once. Blocks in the resolver, so
// only a worker thread calls it. Returns 0, or the Windows Sockets number of the failure
// (kWsaNoData when the name has no address of either family).
int ResolveHostName(const std::string& name, std::vector<SocketAddress>& addresses);

// Ends the sending direction of a connected socket: the peer reads the end of the stream
// once it has everything sent before. Failures are not reported.
void ShutdownSending(SocketHandle socket);

} // namespace platform::detail
