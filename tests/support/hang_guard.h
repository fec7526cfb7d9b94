// Keeps a test from hanging: once `limitMs` pass, the guard calls `cancel` (once, or every
// `repeatMs` until it is disarmed), and Fired() tells the test that it had to.
#pragma once

#include "socket/thread_timer.h"

#include <functional>
#include <utility>

namespace test_support {

class HangGuard {
public:
    HangGuard(int limitMs, std::function<void()> cancel, int repeatMs = 0)
        : cancel_(std::move(cancel)) {
        timer_.SetEnabled(false);
        timer_.SetInterval(limitMs);
        timer_.SetOnTimer([this, repeatMs](TObject*) {
            fired_ = true;
            if (repeatMs > 0)
                timer_.SetInterval(repeatMs);
            else
                timer_.SetEnabled(false);
            cancel_();
        });
        timer_.SetEnabled(true);
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

    void Disarm() { timer_.SetEnabled(false); }
    bool Fired() const { return fired_; }

private:
    std::function<void()> cancel_;
    TThreadTimer timer_;
    bool fired_ = false;
};

} // namespace test_support
