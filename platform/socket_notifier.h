// Asynchronous socket notifications in the manner of message-based socket selection: the
// events of a registered socket (read, accept, connect, close, each with an error code)
// arrive as messages at a notification window and are handled on the main thread during a
// pass of the event pump. On Windows they are WSAAsyncSelect's own.
#pragma once

#include "platform/socket_api.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Event codes in the low 16 bits of a notification's long parameter; the error code is in
// the high 16 bits.
inline constexpr long kFdRead = 1;
inline constexpr long kFdOob = 4;
inline constexpr long kFdAccept = 8;
inline constexpr long kFdConnect = 16;
inline constexpr long kFdClose = 32;

struct WindowMessage {
    unsigned Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

inline std::intptr_t MakeSelectLParam(int event, int error) {
    return static_cast<std::intptr_t>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                      static_cast<std::uint32_t>(event & 0xFFFF));
}
inline int SelectEvent(std::intptr_t lParam) {
    return static_cast<int>(lParam & 0xFFFF);
}
inline int SelectError(std::intptr_t lParam) {
    return static_cast<int>((lParam >> 16) & 0xFFFF);
}

// The hidden window of an object: its handler receives the messages on the main thread,
// during a pass of the event pump.
class MessageWindow {
public:
    using Handler = std::function<void(WindowMessage&)>;

    explicit MessageWindow(Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Queues a message; it is handled in a later pass of the pump, never inside this call.
    // Messages still queued when the window is destroyed are dropped.
    void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    // Hands a message to the handler now (the caller is itself an event being handled).
    void Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    // Whether the window still exists (a handler may have destroyed it meanwhile).
    static bool Alive(const MessageWindow* window);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Registers a socket for the events of `mask` (kFd* bits), reported as `message` to
// `window`, and puts the socket into non-blocking mode. A new registration replaces the
// previous one; mask 0 ends it. A read notification is not repeated until the socket has
// been read (received or peeked) again and new data has arrived; connect and close are
// reported once. Returns 0, or -1 with SocketLastError().
int AsyncSelect(SocketHandle socket, MessageWindow* window, unsigned message, long mask);

// How many sockets are registered now. A socket leaves the registry when its registration
// ends or it is closed, so a count that stays up after its owner is gone is a socket that
// was never closed.
int RegisteredSocketCount();

} // namespace platform
