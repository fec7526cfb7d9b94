// Arms a socket's time-out for the length of a scope and disarms it however the scope is
// left (an error while disarming is dropped: the scope's own outcome matters more).
#pragma once

#include "socket/stream_socket.h"

class TimerScope {
public:
    explicit TimerScope(TStreamSocket& socket) : socket_(socket) { socket_.TimerOn(); }
    ~TimerScope() {
        try {
            socket_.TimerOff();
        } catch (...) {
        }
    }
    TimerScope(const TimerScope&) = delete;
    TimerScope& operator=(const TimerScope&) = delete;

private:
    TStreamSocket& socket_;
};
