// Bounds the waits of an Apply that must not last for ever, and carries the operator's Stop
// into whatever wait the FTP client is in.
//
// The FTP client runs with no time-out of its own: its control-connection time-out would
// also cancel a transfer whose STOR reply is merely slow, and a host may take minutes to
// answer an install command. So the bounds live here, on a timer that ticks on the
// application's event loop (inside the client's waits):
// - connecting and logging on, and logging off, are bounded as a whole;
// - during an upload only the data connection is bounded: the wait for the host to connect
//   back, and the sending, which must make progress; the replies on the control connection
//   (to PORT, STOR and after the data) may take as long as the host needs.
// When a bound passes, the waits are cancelled and Expired() tells why, so the procedure
// can report that instead of the bare cancellation.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class TFtpClient;
class TStreamSocket;
class TThreadTimer;

namespace installer {

// How long a bounded wait may last unless the tests lower it.
inline constexpr int kWaitBoundMs = 30000;

class ApplyWatchdog {
public:
    enum class Phase { Idle, Connecting, Uploading, LoggingOff };

    explicit ApplyWatchdog(TFtpClient& ftp);
    ~ApplyWatchdog();
    ApplyWatchdog(const ApplyWatchdog&) = delete;
    ApplyWatchdog& operator=(const ApplyWatchdog&) = delete;

    // Bounds what follows by `boundMs` until End(). `subject` names the host (Connecting)
    // or the local file (Uploading) in the message of an expiry.
    void Begin(Phase phase, const std::string& subject, int boundMs);
    void End();
    // The data of the running upload is all sent: what remains is the host's reply.
    void TransferFinished() { transferFinished_ = true; }

    // The operator pressed Stop: cancel every wait of the client from now until Reset().
    void RequestStop();
    bool StopRequested() const { return stopRequested_; }

    // A bound passed during this run.
    bool Expired() const { return !expiry_.empty(); }
    const std::string& ExpiryMessage() const { return expiry_; }

    // Ready for the next run: no phase, no stop, no expiry.
    void Reset();

private:
    using Clock = std::chrono::steady_clock;

    void Tick();
    void TickUpload(Clock::time_point now);
    void Expire(const std::string& message);
    void CancelWaits();
    void UpdateTimer();

    TFtpClient& ftp_;
    std::unique_ptr<TThreadTimer> timer_;
    Phase phase_ = Phase::Idle;
    std::string subject_;
    int boundMs_ = kWaitBoundMs;
    Clock::time_point since_; // last progress, or the start of the bounded wait
    bool tracking_ = false;   // bytesSent_ is the running upload's
    std::int64_t bytesSent_ = 0;
    bool transferFinished_ = false;
    bool stopRequested_ = false;
    std::string expiry_;
};

// "30 seconds", "1 second", or "250 milliseconds" for bounds that are not whole seconds.
std::string DurationText(int milliseconds);

} // namespace installer
