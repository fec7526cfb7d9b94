#include "socket/thread_timer.h"

#include "platform/application_exception.h"
#include "platform/exception.h"
#include "platform/platform_timer.h"

TThreadTimer::TThreadTimer(TComponent* AOwner)
    : TComponent(AOwner),
      FTimerWindow(std::make_unique<platform::PlatformTimer>([this] { Tick(); })) {}

TThreadTimer::~TThreadTimer() {
    BeginDestruction();
    FEnabled = false;
    try {
        UpdateTimer();
    } catch (...) {
        // Stopping cannot fail; nothing may leave a destructor anyway.
    }
}

void TThreadTimer::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t Value) {
    if (Value == FInterval)
        return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value) {
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::DoTimer() {
    // A copy: the handler may assign OnTimer while it runs.
    if (const TNotifyEvent handler = FOnTimer)
        handler(this);
}

void TThreadTimer::UpdateTimer() {
    // Stopping first makes every effective change restart the period from zero.
    FTimerWindow->Stop();
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (!FTimerWindow->Start(FInterval))
            throw platform::Exception("No Timer");
    }
}

void TThreadTimer::Tick() noexcept {
    // A tick is an event of the dispatcher: the handler's error goes to the application's
    // report and the timer keeps running.
    try {
        DoTimer();
    } catch (...) {
        platform::HandleException(std::current_exception());
    }
}
