// Termination requests on Windows: Ctrl+C and Ctrl+Break typed at the console, and the
// console being closed (or the user logging off, or the system shutting down), delivered as
// events of the main thread. The system calls a console handler on a thread of its own; the
// one here only posts the request to the watch's receiver, and the callback runs during a
// pass of the pump like any socket notification: inside whatever wait the program is in, and
// never inside the interrupted code. Ctrl+C and Ctrl+Break come as SIGINT, the rest as
// SIGTERM, the signal that the other systems send for the same reasons.
#include "platform/signal_watch.h"

#include "platform/windows_api_win.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <csignal>
#include <mutex>
#include <stdexcept>

namespace platform {
namespace {

QEvent::Type RequestType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class RequestEvent : public QEvent {
public:
    explicit RequestEvent(int signal) : QEvent(RequestType()), signal_(signal) {}
    int Signal() const { return signal_; }

private:
    int signal_;
};

class Receiver : public QObject {
public:
    explicit Receiver(SignalWatch::Handler handler) : handler_(std::move(handler)) {}

    bool event(QEvent* event) override {
        if (event->type() != RequestType())
            return QObject::event(event);
        // Exceptions must not cross the event dispatcher.
        try {
            if (handler_)
                handler_(static_cast<RequestEvent*>(event)->Signal());
        } catch (...) {
            // The handler has said what it could; nothing here could report more.
        }
        return true;
    }

private:
    SignalWatch::Handler handler_;
};

// The running watch's receiver, or none; the console handler's thread reads it.
std::mutex gMutex;
Receiver* gReceiver = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int signal = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signal = SIGINT;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signal = SIGTERM;
        break;
    default:
        return FALSE;
    }
    {
        const std::lock_guard<std::mutex> lock(gMutex);
        if (gReceiver == nullptr)
            return FALSE; // the watch has gone: whoever handled it before does
        QCoreApplication::postEvent(gReceiver, new RequestEvent(signal));
    }
    if (signal == SIGTERM) {
        // The system ends the process as soon as this returns. Held here, the main thread
        // has the few seconds that the system allows to stop as it does on SIGTERM; the
        // process ends this thread with it, whichever comes first.
        ::Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

struct SignalWatch::Impl {
    std::unique_ptr<Receiver> receiver;
};

SignalWatch::SignalWatch(Handler handler) : impl_(std::make_unique<Impl>()) {
    {
        const std::lock_guard<std::mutex> lock(gMutex);
        if (gReceiver != nullptr)
            throw std::logic_error("a signal watch is already running");
        impl_->receiver = std::make_unique<Receiver>(std::move(handler));
        gReceiver = impl_->receiver.get();
    }
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        const std::lock_guard<std::mutex> lock(gMutex);
        gReceiver = nullptr;
        throw std::runtime_error("cannot watch the console for termination requests");
    }
}

SignalWatch::~SignalWatch() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    {
        const std::lock_guard<std::mutex> lock(gMutex);
        gReceiver = nullptr;
    }
    // Destroying the receiver drops a request that was posted but not handled.
    impl_->receiver.reset();
}

} // namespace platform
