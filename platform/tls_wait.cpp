#include "platform/event_pump.h"
#include "platform/tls_connection.h"

#include <QSocketNotifier>

namespace platform {

void WaitForTls(const TlsConnection& connection, int maxMilliseconds) {
    if (!connection.WantsWrite() && connection.Pending())
        return; // decrypted bytes wait: the socket may never become readable for them
    QSocketNotifier ready(static_cast<qintptr>(connection.Socket()),
                          connection.WantsWrite() ? QSocketNotifier::Write : QSocketNotifier::Read);
    // Level-triggered: once it has woken the dispatcher it must not fire again in this wait.
    QObject::connect(&ready, &QSocketNotifier::activated, &ready,
                     [&ready] { ready.setEnabled(false); });
    WaitForEvents(maxMilliseconds);
}

} // namespace platform
