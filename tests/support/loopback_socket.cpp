#include "tests/support/loopback_socket.h"

namespace test_support {

namespace {

// Whether a close after a zero SO_LINGER reaches the peer as a reset here; probed once.
bool AbortiveCloseResets() {
    static const bool resets = [] {
        std::uint16_t port = 0;
        const int listener = ListenLoopback(port);
        const int client = ConnectTo("127.0.0.1", port);
        const int server = client >= 0 ? AcceptOn(listener) : -1;
        CloseSocket(listener);
        ResetSocket(server);
        bool reset = false;
        if (client >= 0 && server >= 0) {
            WaitReadable(client, -1, 5000);
            char byte = 0;
            reset = ReceiveSome(client, &byte, 1) < 0 && LastFailureWasReset();
        }
        CloseSocket(client);
        return reset;
    }();
    return resets;
}

} // namespace

bool RefusedUnanswered(int socket) {
    char byte = 0;
    const long received = ReceiveSome(socket, &byte, 1);
    const bool reset = received < 0 && LastFailureWasReset();
    return AbortiveCloseResets() ? reset : received <= 0;
}

} // namespace test_support
