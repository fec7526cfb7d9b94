#include "platform/platform_timer.h"

#include <QObject>
#include <QTimerEvent>

#include <limits>

namespace platform {
namespace {

class TickReceiver : public QObject {
public:
    explicit TickReceiver(std::function<void()> onTick) : onTick_(std::move(onTick)) {}

    bool Start(unsigned milliseconds) {
        Stop();
        if (milliseconds > static_cast<unsigned>(std::numeric_limits<int>::max()))
            return false;
        // Precise: a time-out is a promise in milliseconds, not a hint.
        id_ = startTimer(static_cast<int>(milliseconds), Qt::PreciseTimer);
        return id_ != 0;
    }
    void Stop() {
        if (id_ != 0)
            killTimer(id_);
        id_ = 0;
    }
    bool Running() const { return id_ != 0; }

protected:
    void timerEvent(QTimerEvent* event) override {
        if (event->timerId() == id_ && onTick_)
            onTick_();
    }

private:
    std::function<void()> onTick_;
    int id_ = 0;
};

} // namespace

struct PlatformTimer::Impl {
    explicit Impl(std::function<void()> onTick) : receiver(std::move(onTick)) {}
    TickReceiver receiver;
};

PlatformTimer::PlatformTimer(std::function<void()> onTick)
    : impl_(std::make_unique<Impl>(std::move(onTick))) {}

PlatformTimer::~PlatformTimer() {
    impl_->receiver.Stop();
}

bool PlatformTimer::Start(unsigned milliseconds) {
    return impl_->receiver.Start(milliseconds);
}

void PlatformTimer::Stop() {
    impl_->receiver.Stop();
}

bool PlatformTimer::Running() const {
    return impl_->receiver.Running();
}

} // namespace platform
