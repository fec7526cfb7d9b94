#include "platform/socket_notifier.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <exception>
#include <set>

namespace platform {
namespace {

std::set<const MessageWindow*>& LiveWindows() {
    static std::set<const MessageWindow*> windows;
    return windows;
}

QEvent::Type MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class MessageEvent : public QEvent {
public:
    explicit MessageEvent(const WindowMessage& message)
        : QEvent(MessageEventType()), message_(message) {}
    WindowMessage& Message() { return message_; }

private:
    WindowMessage message_;
};

// The receiver of the posted messages. Qt drops the events still queued for it when it is
// destroyed, as a destroyed window's messages are never delivered.
class Receiver : public QObject {
public:
    explicit Receiver(MessageWindow::Handler handler) : handler_(std::move(handler)) {}

    bool event(QEvent* event) override {
        if (event->type() != MessageEventType())
            return QObject::event(event);
        Deliver(static_cast<MessageEvent*>(event)->Message());
        return true;
    }

    void Deliver(WindowMessage& message) {
        // Exceptions must not cross the event dispatcher.
        try {
            if (handler_)
                handler_(message);
        } catch (...) {
            // The handler has said what it could; nothing here could report more.
        }
    }

private:
    MessageWindow::Handler handler_;
};

} // namespace

struct MessageWindow::Impl {
    explicit Impl(Handler handler) : receiver(std::move(handler)) {}
    Receiver receiver;
};

MessageWindow::MessageWindow(Handler handler) : impl_(std::make_unique<Impl>(std::move(handler))) {
    LiveWindows().insert(this);
}

MessageWindow::~MessageWindow() {
    LiveWindows().erase(this);
}

bool MessageWindow::Alive(const MessageWindow* window) {
    return LiveWindows().count(window) > 0;
}

void MessageWindow::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    WindowMessage sent;
    sent.Msg = message;
    sent.WParam = wParam;
    sent.LParam = lParam;
    impl_->receiver.Deliver(sent);
}

void MessageWindow::Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    WindowMessage posted;
    posted.Msg = message;
    posted.WParam = wParam;
    posted.LParam = lParam;
    QCoreApplication::postEvent(&impl_->receiver, new MessageEvent(posted));
}

} // namespace platform
