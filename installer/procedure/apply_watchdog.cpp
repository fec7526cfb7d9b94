#include "installer/procedure/apply_watchdog.h"

#include "ftp/ftp_client.h"
#include "socket/thread_timer.h"

#include <algorithm>

namespace installer {
namespace {

// A stop must reach waits that begin after it (a log-on's clean-up sends QUIT and waits
// again), so it is repeated this often until the run has ended.
constexpr int kStopRepeatMs = 20;

// Ticks often enough that a bound is kept to within a few per cent.
int TickFor(int boundMs) {
    return std::clamp(boundMs / 20, 5, 250);
}

} // namespace

std::string DurationText(int milliseconds) {
    if (milliseconds % 1000 != 0)
        return std::to_string(milliseconds) + " milliseconds";
    const int seconds = milliseconds / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

ApplyWatchdog::ApplyWatchdog(TFtpClient& ftp)
    : ftp_(ftp), timer_(std::make_unique<TThreadTimer>()) {
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TObject*) { Tick(); });
}

ApplyWatchdog::~ApplyWatchdog() = default;

void ApplyWatchdog::Begin(Phase phase, const std::string& subject, int boundMs) {
    phase_ = phase;
    subject_ = subject;
    boundMs_ = boundMs;
    since_ = Clock::now();
    tracking_ = false;
    bytesSent_ = 0;
    transferFinished_ = false;
    UpdateTimer();
}

void ApplyWatchdog::End() {
    phase_ = Phase::Idle;
    UpdateTimer();
}

void ApplyWatchdog::RequestStop() {
    stopRequested_ = true;
    CancelWaits();
    UpdateTimer();
}

void ApplyWatchdog::Reset() {
    phase_ = Phase::Idle;
    stopRequested_ = false;
    expiry_.clear();
    UpdateTimer();
}

void ApplyWatchdog::UpdateTimer() {
    const bool running = stopRequested_ || phase_ != Phase::Idle;
    if (!running) {
        timer_->SetEnabled(false);
        return;
    }
    const bool cancelling = stopRequested_ || Expired();
    timer_->SetInterval(static_cast<std::uint32_t>(cancelling ? kStopRepeatMs : TickFor(boundMs_)));
    timer_->SetEnabled(true);
}

void ApplyWatchdog::CancelWaits() {
    // Cancel ends the control connection's waits; the client's Abort ends a transfer's.
    ftp_.Cancel();
    ftp_.Abort();
}

void ApplyWatchdog::Expire(const std::string& message) {
    expiry_ = message;
    CancelWaits();
    UpdateTimer();
}

void ApplyWatchdog::Tick() {
    if (stopRequested_ || Expired()) {
        // Keep ending waits until the procedure has wound the phase up.
        if (phase_ != Phase::Idle || stopRequested_)
            CancelWaits();
        return;
    }
    const Clock::time_point now = Clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - since_);
    const std::string bound = DurationText(boundMs_);
    switch (phase_) {
    case Phase::Idle:
        return;
    case Phase::Connecting:
        if (elapsed.count() >= boundMs_)
            Expire("The AS/400 at " + subject_ + " did not answer within " + bound + ".");
        return;
    case Phase::LoggingOff:
        if (elapsed.count() >= boundMs_)
            Expire("The AS/400 did not answer QUIT within " + bound +
                   "; the connection was closed.");
        return;
    case Phase::Uploading:
        TickUpload(now);
        return;
    }
}

void ApplyWatchdog::TickUpload(Clock::time_point now) {
    // The waits for replies on the control connection (to PORT and to STOR) are the host's
    // business, not the data connection's; each upload has such a wait before its data.
    if (!ftp_.Transferring() || ftp_.AwaitingReply() || transferFinished_) {
        since_ = now;
        tracking_ = false;
        return;
    }
    if (!tracking_ || ftp_.BytesSent() != bytesSent_) {
        tracking_ = true;
        bytesSent_ = ftp_.BytesSent();
        since_ = now;
        return;
    }
    if (std::chrono::duration_cast<std::chrono::milliseconds>(now - since_).count() < boundMs_)
        return;
    const std::string bound = DurationText(boundMs_);
    if (ftp_.DataConnected())
        Expire("The transfer of " + subject_ + " made no progress for " + bound + ".");
    else
        Expire("The AS/400 did not open the data connection for " + subject_ + " within " + bound +
               ".");
}

} // namespace installer
