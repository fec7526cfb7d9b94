#include "platform/signal_watch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM};

// The write end of the running watch's pipe; -1 when no watch runs. Read by the signal
// handler, so it is a plain lock-free atomic.
volatile std::sig_atomic_t writeEnd = -1;

extern "C" void OnSignal(int signal) {
    const int savedErrno = errno;
    const int fd = writeEnd;
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a request the main thread has not read yet.
        [[maybe_unused]] const auto written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

} // namespace

struct SignalWatch::Impl {
    Handler handler;
    int pipe[2] = {-1, -1};
    struct sigaction previous[std::size(kWatchedSignals)] = {};
    std::unique_ptr<QSocketNotifier> notifier;

    void ReadPending() {
        unsigned char numbers[16];
        for (;;) {
            const auto n = ::read(pipe[0], numbers, sizeof numbers);
            if (n <= 0)
                return; // drained (EAGAIN) or closed
            for (ssize_t i = 0; i < n; ++i)
                if (handler)
                    handler(numbers[i]);
        }
    }
};

SignalWatch::SignalWatch(Handler handler) : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    if (writeEnd >= 0)
        throw std::logic_error("a signal watch is already running");
    if (::pipe2(impl_->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create the pipe that carries signals");
    impl_->notifier = std::make_unique<QSocketNotifier>(impl_->pipe[0], QSocketNotifier::Read);
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, impl_->notifier.get(),
                     [impl = impl_.get()] { impl->ReadPending(); });
    writeEnd = impl_->pipe[1];

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls carry on: the request is handled by the event pump, not by
    // whatever call the signal happened to interrupt.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kWatchedSignals); ++i)
        ::sigaction(kWatchedSignals[i], &action, &impl_->previous[i]);
}

SignalWatch::~SignalWatch() {
    for (std::size_t i = 0; i < std::size(kWatchedSignals); ++i)
        ::sigaction(kWatchedSignals[i], &impl_->previous[i], nullptr);
    writeEnd = -1;
    impl_->notifier.reset();
    ::close(impl_->pipe[0]);
    ::close(impl_->pipe[1]);
}

} // namespace platform
