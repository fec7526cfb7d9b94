#include "bench_processes.h"

#include "bench/common/process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

// The child's peak resident set so far (VmHWM of /proc/<pid>/status) in MiB; 0 once it is
// gone. Read from outside because the resource usage that wait4 reports also counts the
// parent's memory at the time of the fork.
double PeakResidentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

} // namespace

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ChildResult RunChild(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    StartOptions options;
    options.output = out[1];
    ChildResult result;
    const double start = Now();
    pid_t pid = -1;
    try {
        pid = StartProcess(argv, options);
    } catch (...) {
        ::close(out[0]);
        ::close(out[1]);
        throw;
    }
    ::close(out[1]);
    // The peak only grows, so the last reading before the child ends is its peak.
    std::atomic<bool> running{true};
    double peak = 0;
    // Often at first, while the child sets itself up, then seldom: every wake-up of the
    // sampler takes the processor from the runs being measured for a moment.
    std::thread sampler([&] {
        for (int sample = 0; running; ++sample) {
            peak = std::max(peak, PeakResidentMiB(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(sample < 40 ? 5 : 100));
        }
    });
    result.output = ReadToEnd(out[0]);
    ::close(out[0]);
    rusage usage{};
    ::waitid(P_PID, static_cast<id_t>(pid), nullptr, WEXITED | WNOWAIT); // still readable
    running = false;
    sampler.join();
    peak = std::max(peak, PeakResidentMiB(pid));
    result.exitStatus = WaitProcess(pid, &usage);
    result.wallSeconds = Now() - start;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakResidentMiB = peak;
    return result;
}

} // namespace bench
