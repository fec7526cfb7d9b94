// Socket notifications on Windows: WSAAsyncSelect posts each registered socket's events to one
// hidden message-only window of the main thread, and its window procedure hands them on to
// the registration's MessageWindow. Qt's event dispatcher pumps the thread's window messages,
// so they arrive within its waits like any other event. This is the only notification path
// of a socket: a Qt notifier on the same socket would replace the registration, since Windows
// keeps one per socket.
//
// Windows already reports read, accept, connect and close much as the interface promises:
// read again only after a receive, accept again after an accept. What the registry adds is
// what WSAAsyncSelect does not promise: a read notification only while there is something to
// read (a message posted before a receive took the data is dropped), a connect notification only
// for a connect that was started (a new registration of a connected socket reports one too), a
// close notification only once, and nothing for a socket that has been closed, even when its handle
// comes back for a new socket while a message for the old one still waits in the queue.
#include "platform/socket_notifier.h"

#include "platform/event_pump.h"
#include "platform/socket_notifier_hooks.h"
#include "platform/windows_api_win.h"

#include <map>

namespace platform {
namespace {

using detail::NativeSocket;

// Each registration posts its own message, from this range, so that a message can be told
// from one that an earlier registration of the same handle posted before it was closed.
constexpr UINT kFirstSocketMessage = WM_APP;
constexpr UINT kSocketMessageCount = 0x3FFF; // WM_APP up to 0xBFFE

// What Windows is asked to report for every registered socket. Read, connect and close are
// always asked for, to follow the socket's state, and room to send, for WaitForSocket; the
// registration's mask says what is handed on. Urgent data is not reported, as on the other
// systems: an FTP server sends none.
constexpr long kSystemEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
// What is handed on when the registration's mask asks for it.
constexpr long kReportableEvents = kFdRead | kFdAccept | kFdConnect | kFdClose;

static_assert(kFdRead == FD_READ && kFdOob == FD_OOB && kFdAccept == FD_ACCEPT &&
                  kFdConnect == FD_CONNECT && kFdClose == FD_CLOSE,
              "the interface's event codes are the Windows Sockets ones");

enum class SocketState { Idle, Connecting, Connected, Listening, Failed };

struct Registration {
    MessageWindow* window = nullptr;
    unsigned message = 0;
    long mask = 0;
    UINT systemMessage = 0; // what WSAAsyncSelect posts for this registration
    SocketState state = SocketState::Idle;
    bool closeReported = false;
};

SocketState CurrentState(SOCKET socket) {
    BOOL listening = FALSE;
    int length = sizeof listening;
    if (::getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, reinterpret_cast<char*>(&listening),
                     &length) == 0 &&
        listening)
        return SocketState::Listening;
    sockaddr_storage peer{};
    int peerLength = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0)
        return SocketState::Connected;
    return SocketState::Idle;
}

LRESULT CALLBACK NotificationProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Whether a socket has no byte waiting to be received (and could say so).
bool NothingToRead(SOCKET socket) {
    u_long waiting = 0;
    return ::ioctlsocket(socket, FIONREAD, &waiting) == 0 && waiting == 0;
}

class Registry {
public:
    static Registry& Instance() {
        static Registry registry;
        return registry;
    }

    ~Registry() {
        if (window_ != nullptr)
            ::DestroyWindow(window_);
    }

    int Select(SocketHandle socket, MessageWindow* window, unsigned message, long mask) {
        if (mask == 0 || window == nullptr) {
            Forget(socket);
            if (window_ != nullptr) // ends the notifications; the socket stays non-blocking
                ::WSAAsyncSelect(NativeSocket(socket), window_, 0, 0);
            return 0;
        }
        if (!EnsureWindow())
            return -1;
        auto [entry, added] = sockets_.try_emplace(socket);
        Registration& registration = entry->second;
        if (added) {
            registration.state = CurrentState(NativeSocket(socket));
            registration.systemMessage = NextMessage();
        }
        registration.window = window;
        registration.message = message;
        registration.mask = mask & kReportableEvents;
        // Also makes the socket non-blocking. Events that have happened already (data
        // waiting, a connection closed) are posted again for the new registration.
        if (::WSAAsyncSelect(NativeSocket(socket), window_, registration.systemMessage,
                             kSystemEvents) != 0) {
            error_ = ::WSAGetLastError();
            if (added)
                sockets_.erase(socket);
            return -1;
        }
        return 0;
    }

    bool ConnectStarted(SocketHandle socket, int error) {
        Registration* registration = Find(socket);
        if (registration == nullptr)
            return false;
        registration->closeReported = false;
        registration->state = SocketState::Connecting;
        if (error != 0) {
            // Reported later, as Windows reports a connect that fails, never from inside the
            // connect call itself.
            ::PostMessageW(window_, registration->systemMessage, static_cast<WPARAM>(socket),
                           WSAMAKESELECTREPLY(FD_CONNECT, error));
        }
        return true;
    }

    void Listening(SocketHandle socket) {
        if (Registration* registration = Find(socket))
            registration->state = SocketState::Listening;
    }

    void Forget(SocketHandle socket) { sockets_.erase(socket); }

    bool Registered(SocketHandle socket) const { return sockets_.count(socket) > 0; }
    int Count() const { return static_cast<int>(sockets_.size()); }
    int LastError() const { return error_; }

    // A message that WSAAsyncSelect (or ConnectStarted) posted, on the main thread.
    void Deliver(SocketHandle socket, UINT systemMessage, LPARAM lParam) {
        Registration* registration = Find(socket);
        if (registration == nullptr || registration->systemMessage != systemMessage)
            return; // a closed socket's, or an earlier socket's of the same handle
        const int event = WSAGETSELECTEVENT(lParam);
        const int error = WSAGETSELECTERROR(lParam);
        switch (event) {
        case FD_WRITE:
            return; // only wakes the dispatcher, for WaitForSocket
        case FD_READ:
            // Windows may post a read that a receive has overtaken while the message waited
            // in the queue: nothing is left to read. Handed on, it would look like data, a
            // reply say, that never came; the other systems report only what is there.
            if (error == 0 && NothingToRead(NativeSocket(socket)))
                return;
            break;
        case FD_CONNECT:
            if (registration->state != SocketState::Connecting)
                return;
            registration->state = error == 0 ? SocketState::Connected : SocketState::Failed;
            break;
        case FD_CLOSE:
            if (registration->closeReported)
                return;
            registration->closeReported = true;
            break;
        default:
            break;
        }
        if ((registration->mask & event) == 0)
            return;
        // The handler may close this socket and others, or register new ones: nothing of the
        // registration is used after the call.
        MessageWindow* window = registration->window;
        const unsigned message = registration->message;
        if (MessageWindow::Alive(window))
            window->Send(message, 0, MakeSelectLParam(event, error));
    }

private:
    Registration* Find(SocketHandle socket) {
        const auto entry = sockets_.find(socket);
        return entry == sockets_.end() ? nullptr : &entry->second;
    }

    UINT NextMessage() {
        const UINT message = kFirstSocketMessage + nextMessage_;
        nextMessage_ = (nextMessage_ + 1) % kSocketMessageCount;
        return message;
    }

    // The message-only window, made on first use by the thread that registers sockets: the
    // main thread, whose messages Qt's dispatcher pumps.
    bool EnsureWindow() {
        if (window_ != nullptr)
            return true;
        static const wchar_t kClassName[] = L"ApplyUpdateSocketNotifications";
        HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = NotificationProcedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClassName;
        if (::RegisterClassExW(&windowClass) == 0 &&
            ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            error_ = WSAENOBUFS;
            return false;
        }
        window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    instance, nullptr);
        if (window_ == nullptr) {
            error_ = WSAENOBUFS;
            return false;
        }
        return true;
    }

    HWND window_ = nullptr;
    int error_ = 0;
    UINT nextMessage_ = 0;
    std::map<SocketHandle, Registration> sockets_;
};

LRESULT CALLBACK NotificationProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message < kFirstSocketMessage || message >= kFirstSocketMessage + kSocketMessageCount)
        return ::DefWindowProcW(window, message, wParam, lParam);
    // Nothing may leave a window procedure; the handlers catch their own errors already.
    try {
        Registry::Instance().Deliver(static_cast<SocketHandle>(wParam), message, lParam);
    } catch (...) {
        // Only the registry's own bookkeeping could throw here (out of memory): the
        // notification is lost, as a failed post would lose it.
    }
    return 0;
}

// Whether the socket is ready now for what a wait is for (or has failed, which ends any
// wait as well).
bool ReadyNow(SOCKET socket, bool forRoom) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    timeval none{};
    const int count =
        ::select(0, forRoom ? nullptr : &ready, forRoom ? &ready : nullptr, &failed, &none);
    return count != 0; // also a socket that select cannot look at: waiting would not help
}

} // namespace

int AsyncSelect(SocketHandle socket, MessageWindow* window, unsigned message, long mask) {
    Registry& registry = Registry::Instance();
    if (registry.Select(socket, window, message, mask) == 0)
        return 0;
    detail::SetLastSocketError(registry.LastError());
    return -1;
}

int RegisteredSocketCount() {
    return Registry::Instance().Count();
}

namespace detail {

bool NotifyConnectStarted(SocketHandle socket, int error) {
    return Registry::Instance().ConnectStarted(socket, error);
}
void NotifyReadCalled(SocketHandle) {
    // Windows itself reports a read again after a receive.
}
void NotifyAcceptCalled(SocketHandle) {
    // Windows itself reports the next pending connection after an accept.
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
    // Ready already: a message that says so may have been handled before this wait began.
    if (ReadyNow(NativeSocket(socket), forRoom))
        return;
    // Otherwise Windows posts the registration a message when that changes: data to read
    // after a receive found none, room after a send that would have blocked, or the close.
    // Handling it wakes the dispatcher.
    WaitForEvents(maxMilliseconds);
}

} // namespace detail
} // namespace platform
