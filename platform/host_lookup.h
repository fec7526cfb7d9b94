// Asynchronous host-name lookup, both address families. The completion arrives as a message
// at a notification window on the main thread: low 16 bits of the long parameter the number
// of addresses written to the caller's list (every address of the name, IPv6 and IPv4, in
// the resolver's order of preference), high 16 bits a Windows Sockets error number (0 on
// success).
#pragma once

#include "platform/socket_api.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

class MessageWindow;

class HostLookup {
public:
    HostLookup();
    ~HostLookup(); // cancels a running lookup; its completion is then never posted
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // Starts looking up `name`; a lookup still running is cancelled first. On completion the
    // addresses replace the contents of `result` (their ports 0) and `message` is sent to
    // `window`. Both must outlive the lookup or this object.
    void Start(const std::string& name, MessageWindow* window, unsigned message,
               std::vector<SocketAddress>* result);
    void Cancel();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// How many lookup workers are still running, after waiting up to `waitMilliseconds` for
// them to finish. A cancelled lookup's worker ends on its own once the resolver returns.
int LiveLookupWorkers(int waitMilliseconds = 0);

// For tests only: lookups of `name` give exactly these addresses, in this order, as if the
// resolver had answered so (still on a worker, still asynchronous). An empty list removes
// the name again. This machine's resolver is no help for a name with several addresses of
// which one cannot be reached.
void SetHostAddressesForTesting(const std::string& name, std::vector<SocketAddress> addresses);

} // namespace platform
