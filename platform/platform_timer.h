// A periodic timer of the thread that created it: its ticks are events of that thread's
// event loop, so the handler runs only while the thread processes events.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class PlatformTimer {
public:
    explicit PlatformTimer(std::function<void()> onTick);
    ~PlatformTimer();
    PlatformTimer(const PlatformTimer&) = delete;
    PlatformTimer& operator=(const PlatformTimer&) = delete;

    // Starts (or restarts from zero) a periodic timer; false when the platform refuses.
    bool Start(unsigned milliseconds);
    // Stops it; no further tick is delivered, even one that is already due.
    void Stop();
    bool Running() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
