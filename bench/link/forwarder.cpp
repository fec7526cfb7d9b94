#include "forwarder.h"

#include "delay_line.h"

#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>

namespace netlink {

namespace {

// At most this many packets are read from one device before the other gets its turn and
// due packets leave: a burst on one side must not hold up the other.
constexpr int kReadBatch = 128;

std::uint64_t NowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
           static_cast<std::uint64_t>(now.tv_nsec);
}

struct Direction {
    Direction(int from_, int to_, std::size_t slots, double loss, std::uint64_t seed)
        : from(from_), to(to_), line(slots), pattern(loss, seed) {}

    int from, to;
    DelayLine line;
    LossPattern pattern;
    std::uint64_t packets = 0, bytes = 0, lost = 0, overflow = 0, sent = 0, writeErrors = 0;
    int lastWriteErrno = 0;
    std::uint8_t scratch[DelayLine::kSlotBytes]; // where a packet goes that has no slot

    // Reads what the device holds, up to one batch.
    void Read(std::uint64_t oneWayNs) {
        for (int i = 0; i < kReadBatch; ++i) {
            const bool full = line.Full();
            const ssize_t n = ::read(from, full ? scratch : line.Tail(), DelayLine::kSlotBytes);
            if (n <= 0)
                return; // EAGAIN: drained
            ++packets;
            bytes += static_cast<std::uint64_t>(n);
            if (full) {
                ++overflow;
                continue;
            }
            // Each connection meets the same losses at the same packet counts, from its SYN on,
            // so that runs of different programs over the link compare.
            if (IsTcpSyn(line.Tail(), static_cast<std::size_t>(n)))
                pattern.Restart();
            if (pattern.Drop()) {
                ++lost;
                continue;
            }
            line.Commit(static_cast<std::size_t>(n), NowNs() + oneWayNs);
        }
    }

    // Writes every packet whose time has come.
    void Release(std::uint64_t now) {
        while (!line.Empty() && line.HeadRelease() <= now) {
            if (::write(to, line.Head(), line.HeadBytes()) < 0) {
                ++writeErrors;
                lastWriteErrno = errno;
            } else {
                ++sent;
            }
            line.Pop();
        }
    }
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void WriteStats(const std::string& path, const Direction* directions, std::uint64_t startNs,
                int generation) {
    if (path.empty())
        return;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary);
        out << "generation " << generation << "\n";
        out << "seconds " << static_cast<double>(NowNs() - startNs) / 1e9 << "\n";
        out << "cpu_seconds " << CpuSeconds() << "\n";
        const char* names[2] = {"near_to_far", "far_to_near"};
        for (int d = 0; d < 2; ++d) {
            const Direction& dir = directions[d];
            out << names[d] << " packets " << dir.packets << " bytes " << dir.bytes << " lost "
                << dir.lost << " overflow " << dir.overflow << " sent " << dir.sent
                << " write_errors " << dir.writeErrors << " last_write_errno " << dir.lastWriteErrno
                << "\n";
        }
    }
    std::rename(temporary.c_str(), path.c_str());
}

} // namespace

int RunForwarder(const ForwarderConfig& config) {
    // Wake-ups exactly when a packet is due, not up to 50 us later, and ahead of the machine's
    // other work: on a busy machine an ordinary process may wait tens of milliseconds for a
    // processor, which would show as delay the link does not claim. The forwarder only ever
    // blocks or moves packets, so it cannot hold a processor for long (and the kernel keeps
    // a share of every second for ordinary processes in any case).
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sched_param priority{};
    priority.sched_priority = 10;
    if (::sched_setscheduler(0, SCHED_FIFO, &priority) != 0)
        std::perror("net_link forwarder: no real-time priority, delays may vary");
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    const int timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    if (signalFd < 0 || timerFd < 0 || poller < 0) {
        std::perror("net_link forwarder");
        return 1;
    }
    // Two seeds drawn from the one given, so the two directions lose different packets.
    Direction both[2] = {
        Direction(config.tun[0], config.tun[1], config.slots, config.loss, config.seed * 2 + 1),
        Direction(config.tun[1], config.tun[0], config.slots, config.loss, config.seed * 2 + 2)};
    const int watched[4] = {config.tun[0], config.tun[1], timerFd, signalFd};
    for (int i = 0; i < 4; ++i) {
        epoll_event interest{};
        interest.events = EPOLLIN;
        interest.data.u32 = static_cast<std::uint32_t>(i);
        if (::epoll_ctl(poller, EPOLL_CTL_ADD, watched[i], &interest) != 0) {
            std::perror("net_link forwarder: epoll_ctl");
            return 1;
        }
    }
    const std::uint64_t start = NowNs();
    std::uint64_t armedFor = 0;
    int generation = 0;
    for (;;) {
        epoll_event events[4];
        const int n = ::epoll_wait(poller, events, 4, -1);
        if (n < 0 && errno != EINTR) {
            std::perror("net_link forwarder: epoll_wait");
            return 1;
        }
        for (int i = 0; i < n; ++i) {
            const std::uint32_t which = events[i].data.u32;
            if (which < 2) {
                both[which].Read(config.oneWayNs);
            } else if (which == 2) {
                std::uint64_t expirations;
                if (::read(timerFd, &expirations, sizeof expirations) < 0) {
                    // nothing: the timer was re-armed before its expiry was read
                }
                armedFor = 0;
            } else {
                signalfd_siginfo info{};
                while (::read(signalFd, &info, sizeof info) == sizeof info) {
                    WriteStats(config.statsPath, both, start, ++generation);
                    if (info.ssi_signo != SIGUSR1)
                        return 0;
                }
            }
        }
        const std::uint64_t now = NowNs();
        both[0].Release(now);
        both[1].Release(now);
        // The timer wakes the loop for the earliest packet still waiting.
        std::uint64_t next = 0;
        for (const Direction& dir : both)
            if (!dir.line.Empty() && (next == 0 || dir.line.HeadRelease() < next))
                next = dir.line.HeadRelease();
        if (next != armedFor) {
            itimerspec when{};
            when.it_value.tv_sec = static_cast<time_t>(next / 1000000000ull);
            when.it_value.tv_nsec = static_cast<long>(next % 1000000000ull);
            ::timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &when, nullptr);
            armedFor = next;
        }
    }
}

} // namespace netlink
