// Termination requests (SIGINT, SIGTERM) delivered as events of the main thread. A signal
// handler may do almost nothing, so the one here only writes the signal's number to a pipe;
// the pipe's read end is watched by the event pump, and the callback runs during a pass of
// the pump like any socket notification: inside whatever wait the program is in, and never
// inside the interrupted code. On Windows the requests are the console's: Ctrl+C and
// Ctrl+Break come as SIGINT; the console's closing, a log-off or a shut-down as SIGTERM.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class SignalWatch {
public:
    using Handler = std::function<void(int signal)>;

    // Catches SIGINT and SIGTERM from now on and calls `handler` for each on the main
    // thread. Needs the application object (EnsureApplication). One watch at a time.
    explicit SignalWatch(Handler handler);
    // Restores what the two signals did before.
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
