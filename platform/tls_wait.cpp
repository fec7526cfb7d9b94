#include "platform/socket_notifier_hooks.h"
#include "platform/tls_connection.h"

namespace platform {

void WaitForTls(const TlsConnection& connection, int maxMilliseconds) {
    if (!connection.WantsWrite() && connection.Pending())
        return; // decrypted bytes wait: the socket may never become readable for them
    detail::WaitForSocket(connection.Socket(), connection.WantsWrite(), maxMilliseconds);
}

} // namespace platform
