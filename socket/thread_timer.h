// The timer behind every time-out of the socket layer. Its ticks are events of the thread
// that created it and arrive only while that thread processes events (also inside the
// socket layer's waits). It runs exactly while it is enabled, has a non-zero interval and a
// handler.
#pragma once

#include "socket/component.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
class PlatformTimer;
}

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner = nullptr);
    ~TThreadTimer() override;

    bool Enabled() const { return FEnabled; }
    std::uint32_t Interval() const { return FInterval; }
    const TNotifyEvent& OnTimer() const { return FOnTimer; }

    // An equal value changes nothing (the running period goes on); a different one is
    // stored and restarts the period. Raise Exception "No Timer" when the platform refuses.
    void SetEnabled(bool Value);
    void SetInterval(std::uint32_t Value);
    // Always stores the handler and restarts the period, even for the same handler.
    void SetOnTimer(TNotifyEvent Value);

protected:
    virtual void DoTimer();

private:
    void UpdateTimer();
    void Tick() noexcept;

    bool FEnabled = true;
    std::uint32_t FInterval = 1000;
    TNotifyEvent FOnTimer;
    std::unique_ptr<platform::PlatformTimer> FTimerWindow;
};
