#include "platform/event_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <memory>

namespace platform {

void ChooseEventDispatcher() {
    // The toolkit reads this when it makes the dispatcher; any value selects its own.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void EnsureApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    ChooseEventDispatcher();
    // Kept for the life of the process, like the application object of a program.
    static int argc = 1;
    static char name[] = "apply-update";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QCoreApplication> app = std::make_unique<QCoreApplication>(argc, argv);
}

void ProcessMessages() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitForEvents(int maxMilliseconds) {
    // A single-shot timer bounds the blocking wait: its tick is itself an event that
    // wakes the dispatcher. One timer per thread, reused across waits.
    static thread_local std::unique_ptr<QTimer> bound;
    if (!bound) {
        bound = std::make_unique<QTimer>();
        bound->setSingleShot(true);
        bound->setTimerType(Qt::PreciseTimer);
    }
    QCoreApplication::sendPostedEvents();
    bound->start(maxMilliseconds < 0 ? 0 : maxMilliseconds);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    bound->stop();
}

} // namespace platform
