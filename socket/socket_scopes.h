// What a socket keeps for the length of a scope and gives up however the scope is left.
#pragma once

#include "platform/socket_api.h"
#include "socket/stream_socket.h"

// Arms the time-out, and disarms it at the end (an error while disarming is dropped: the
// scope's own outcome matters more).
class TimerScope {
public:
    explicit TimerScope(TStreamSocket& socket) : socket_(socket) { socket_.TimerOn(); }
    ~TimerScope() {
        try {
            socket_.TimerOff();
        } catch (...) {
            // Leaving a scope must not throw; a timer that cannot stop only ticks unheeded.
        }
    }
    TimerScope(const TimerScope&) = delete;
    TimerScope& operator=(const TimerScope&) = delete;

private:
    TStreamSocket& socket_;
};

// Corks the socket, so that only full segments leave, and uncorks it at the end, so that
// the rest leaves at once (unless the socket was closed meanwhile).
class CorkScope {
public:
    explicit CorkScope(TStreamSocket& socket) : socket_(socket) {
        platform::SocketSetCork(socket_.Handle(), true);
    }
    ~CorkScope() {
        if (socket_.Handle() != platform::kNoSocket)
            platform::SocketSetCork(socket_.Handle(), false);
    }
    CorkScope(const CorkScope&) = delete;
    CorkScope& operator=(const CorkScope&) = delete;

private:
    TStreamSocket& socket_;
};
