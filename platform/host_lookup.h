// Asynchronous IPv4 host-name lookup. The completion arrives as a message at a notification
// window on the main thread: low 16 bits of the long parameter the length of the result
// written to the caller's buffer (4: one IPv4 address in network order), high 16 bits a
// Windows Sockets error number (0 on success).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class MessageWindow;

class HostLookup {
public:
    HostLookup();
    ~HostLookup(); // cancels a running lookup; its completion is then never posted
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // Starts looking up `name`; a lookup still running is cancelled first. On completion the
    // first IPv4 address is written to `result` (at most `size` bytes) and `message` is
    // sent to `window`. Both must outlive the lookup or this object.
    void Start(const std::string& name, MessageWindow* window, unsigned message, char* result,
               std::size_t size);
    void Cancel();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// How many lookup workers are still running, after waiting up to `waitMilliseconds` for
// them to finish. A cancelled lookup's worker ends on its own once the resolver returns.
int LiveLookupWorkers(int waitMilliseconds = 0);

} // namespace platform
