// Message-based socket notifications over one edge-triggered epoll set. Each registered
// socket follows a small state machine (idle, connecting, connected, listening, failed) so
// that only the notifications that socket can have are reported: connect once, close once,
// read again only after the socket was read and new data came, accept again after an
// accept. Edge triggering is what keeps a wait on a partly arrived reply from spinning: the
// set becomes readable only when something new happens.
#include "platform/socket_notifier.h"

#include "platform/event_pump.h"
#include "platform/socket_notifier_hooks.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

enum class SocketState { Idle, Connecting, Connected, Listening, Failed };

struct Notification {
    MessageWindow* window;
    unsigned message;
    std::intptr_t lParam;
};

struct Registration {
    MessageWindow* window = nullptr;
    unsigned message = 0;
    long mask = 0;
    SocketState state = SocketState::Idle;
    bool readArmed = true;
    bool acceptArmed = true;
    bool closeReported = false;
};

int PendingSocketError(SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

bool BytesWaiting(SocketHandle socket) {
    int count = 0;
    return ::ioctl(socket, FIONREAD, &count) == 0 && count > 0;
}

SocketState CurrentState(SocketHandle socket) {
    int listening = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening)
        return SocketState::Listening;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0)
        return SocketState::Connected;
    return SocketState::Idle;
}

class Registry {
public:
    static Registry& Instance() {
        static Registry registry;
        return registry;
    }

    ~Registry() {
        notifier_.reset();
        if (epoll_ >= 0)
            ::close(epoll_);
    }

    int Select(SocketHandle socket, MessageWindow* window, unsigned message, long mask) {
        if (mask == 0 || window == nullptr) {
            Forget(socket);
            return 0;
        }
        if (!EnsureEpoll())
            return -1;
        const int flags = ::fcntl(socket, F_GETFL);
        if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) {
            errno_ = errno;
            return -1;
        }
        auto [entry, added] = sockets_.try_emplace(socket);
        Registration& registration = entry->second;
        if (added)
            registration.state = CurrentState(socket);
        registration.window = window;
        registration.message = message;
        registration.mask = mask;
        registration.readArmed = true;
        registration.acceptArmed = true;
        readded_ = false;
        if (!Watch(socket, added)) {
            sockets_.erase(socket);
            return -1;
        }
        if (readded_)
            registration.state = CurrentState(socket); // a different socket by the same number
        return 0;
    }

    bool ConnectStarted(SocketHandle socket, int error) {
        Registration* registration = Find(socket);
        if (registration == nullptr)
            return false;
        registration->closeReported = false;
        registration->readArmed = true;
        if (error != 0) {
            // Reported later, never from inside the connect call itself.
            registration->state = SocketState::Failed;
            if ((registration->mask & kFdConnect) != 0)
                registration->window->Post(registration->message, 0,
                                           MakeSelectLParam(static_cast<int>(kFdConnect), error));
            return true;
        }
        registration->state = SocketState::Connecting;
        Watch(socket, false); // a connection that completed at once is reported too
        return true;
    }

    void ReadCalled(SocketHandle socket) {
        if (Registration* registration = Find(socket))
            registration->readArmed = true;
    }

    void AcceptCalled(SocketHandle socket) {
        if (Registration* registration = Find(socket)) {
            registration->acceptArmed = true;
            Watch(socket, false); // reports a further pending connection
        }
    }

    void Listening(SocketHandle socket) {
        if (Registration* registration = Find(socket)) {
            registration->state = SocketState::Listening;
            registration->acceptArmed = true;
            Watch(socket, false);
        }
    }

    void Forget(SocketHandle socket) {
        if (sockets_.erase(socket) > 0 && epoll_ >= 0)
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
    }

    bool Registered(SocketHandle socket) const { return sockets_.count(socket) > 0; }
    int Count() const { return static_cast<int>(sockets_.size()); }
    int LastErrno() const { return errno_; }

private:
    Registration* Find(SocketHandle socket) {
        const auto entry = sockets_.find(socket);
        return entry == sockets_.end() ? nullptr : &entry->second;
    }

    bool EnsureEpoll() {
        if (epoll_ >= 0)
            return true;
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) {
            errno_ = errno;
            return false;
        }
        notifier_ = std::make_unique<QSocketNotifier>(epoll_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { Drain(); });
        return true;
    }

    // Adds the socket or re-arms it; re-arming reports the readiness it has now.
    bool Watch(SocketHandle socket, bool add) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
        event.data.fd = socket;
        if (::epoll_ctl(epoll_, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, socket, &event) == 0)
            return true;
        // A handle closed behind the registry's back and opened again under the same
        // number: the set forgot it, so register it afresh.
        if (!add && errno == ENOENT && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &event) == 0) {
            readded_ = true;
            return true;
        }
        errno_ = errno;
        return false;
    }

    // Queues a notification for delivery once the current batch has been examined.
    void Post(const Registration& registration, long event, int error) {
        if ((registration.mask & event) != 0)
            pending_.push_back({registration.window, registration.message,
                                MakeSelectLParam(static_cast<int>(event), error)});
    }

    // Runs as an event of the main thread: the handlers are called right here, so that the
    // wait that is blocked in the dispatcher sees their flags as soon as it wakes. They are
    // called only after the whole batch has been examined, because a handler may close
    // and open sockets.
    void Drain() {
        std::vector<Notification> batch;
        epoll_event events[32];
        int count = 0;
        do {
            count = ::epoll_wait(epoll_, events, 32, 0);
            for (int i = 0; i < count; ++i)
                Dispatch(events[i].data.fd, events[i].events);
        } while (count == 32);
        batch.swap(pending_);
        for (const Notification& notification : batch)
            if (MessageWindow::Alive(notification.window))
                notification.window->Send(notification.message, 0, notification.lParam);
    }

    // Turns what happened to one socket into its notifications.
    void Dispatch(SocketHandle socket, std::uint32_t happened) {
        Registration* registration = Find(socket);
        if (registration == nullptr)
            return;
        switch (registration->state) {
        case SocketState::Idle:
        case SocketState::Failed:
            return;
        case SocketState::Listening:
            if ((happened & EPOLLIN) != 0 && registration->acceptArmed) {
                registration->acceptArmed = false;
                Post(*registration, kFdAccept, 0);
            }
            return;
        case SocketState::Connecting: {
            if ((happened & (EPOLLOUT | EPOLLERR | EPOLLHUP)) == 0)
                return;
            const int error = PendingSocketError(socket);
            if (error != 0) {
                registration->state = SocketState::Failed;
                Post(*registration, kFdConnect, WsaErrorFromErrno(error));
                return;
            }
            registration->state = SocketState::Connected;
            Post(*registration, kFdConnect, 0);
            DispatchConnected(socket, *registration, happened);
            return;
        }
        case SocketState::Connected:
            DispatchConnected(socket, *registration, happened);
            return;
        }
    }

    void DispatchConnected(SocketHandle socket, Registration& registration,
                           std::uint32_t happened) {
        if ((happened & EPOLLIN) != 0 && registration.readArmed && BytesWaiting(socket)) {
            registration.readArmed = false;
            Post(registration, kFdRead, 0);
        }
        if ((happened & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0 && !registration.closeReported) {
            registration.closeReported = true;
            const int error = (happened & EPOLLERR) != 0 ? PendingSocketError(socket) : 0;
            Post(registration, kFdClose, WsaErrorFromErrno(error));
        }
    }

    int epoll_ = -1;
    int errno_ = 0;
    bool readded_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<SocketHandle, Registration> sockets_;
    std::vector<Notification> pending_;
};

} // namespace

int AsyncSelect(SocketHandle socket, MessageWindow* window, unsigned message, long mask) {
    Registry& registry = Registry::Instance();
    if (registry.Select(socket, window, message, mask) == 0)
        return 0;
    detail::SetLastSocketError(WsaErrorFromErrno(registry.LastErrno()));
    return -1;
}

int RegisteredSocketCount() {
    return Registry::Instance().Count();
}

namespace detail {

bool NotifyConnectStarted(SocketHandle socket, int error) {
    return Registry::Instance().ConnectStarted(socket, error);
}
void NotifyReadCalled(SocketHandle socket) {
    Registry::Instance().ReadCalled(socket);
}
void NotifyAcceptCalled(SocketHandle socket) {
    Registry::Instance().AcceptCalled(socket);
}
void NotifyListening(SocketHandle socket) {
    Registry::Instance().Listening(socket);
}
void NotifyClosing(SocketHandle socket) {
    Registry::Instance().Forget(socket);
}
bool IsRegistered(SocketHandle socket) {
    return Registry::Instance().Registered(socket);
}

void WaitForSocket(SocketHandle socket, bool forRoom, int maxMilliseconds) {
    // A notifier of its own for the length of the wait, beside the registry's epoll set.
    QSocketNotifier ready(static_cast<qintptr>(socket),
                          forRoom ? QSocketNotifier::Write : QSocketNotifier::Read);
    // Level-triggered: once it has woken the dispatcher it must not fire again in this wait.
    QObject::connect(&ready, &QSocketNotifier::activated, &ready,
                     [&ready] { ready.setEnabled(false); });
    WaitForEvents(maxMilliseconds);
}

} // namespace detail
} // namespace platform
