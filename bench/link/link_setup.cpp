#include "link_setup.h"

#include "forwarder.h"

#include "bench/common/process.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace netlink {

namespace {

const std::filesystem::path kStateDirectory = "/run/net_link";
constexpr const char* kDevice = "tl0";
constexpr int kMtu = 1500;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : ""));
}

void CheckName(const std::string& name) {
    // Short and plain: it becomes part of namespace and file names.
    const bool plain =
        !name.empty() && name.size() <= 12 && std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        });
    if (!plain)
        throw std::runtime_error("a link name is 1 to 12 lower-case letters and digits");
}

std::filesystem::path PidFile(const std::string& name) {
    return kStateDirectory / (name + ".pid");
}

std::filesystem::path StatsFile(const std::string& name) {
    return kStateDirectory / (name + ".stats");
}

// Runs a system tool and waits for it; its output goes where ours goes. Returns its status,
// -1 when it could not be started.
int Run(const std::vector<std::string>& argv, bool quiet = false) {
    bench::StartOptions options;
    options.searchPath = true;
    if (quiet)
        options.output = options.errors = bench::kNullDevice;
    try {
        return bench::WaitProcess(bench::StartProcess(argv, options));
    } catch (const std::runtime_error&) {
        return -1;
    }
}

// Runs a system tool and returns what it wrote to its standard output.
std::string Output(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {};
    bench::StartOptions options;
    options.searchPath = true;
    options.output = out[1];
    pid_t pid = -1;
    try {
        pid = bench::StartProcess(argv, options);
    } catch (const std::runtime_error&) {
        // Not started: nothing to read.
    }
    ::close(out[1]);
    std::string text;
    if (pid > 0) {
        text = bench::ReadToEnd(out[0]);
        bench::WaitProcess(pid);
    }
    ::close(out[0]);
    return text;
}

void MustRun(const std::vector<std::string>& argv) {
    if (Run(argv) != 0) {
        std::string line;
        for (const auto& arg : argv)
            line += (line.empty() ? "" : " ") + arg;
        errno = 0;
        Fail("failed: " + line);
    }
}

// Enters a named namespace (this thread) and returns a handle to the one it left.
int Enter(const std::string& ns) {
    const int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (self < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0)
        Fail("cannot enter the network namespace " + ns);
    ::close(target);
    return self;
}

void Leave(int previous) {
    if (::setns(previous, CLONE_NEWNET) != 0)
        Fail("cannot go back to the network namespace");
    ::close(previous);
}

// A TUN device (raw IP packets, no header of the driver's) made inside `ns`; the handle stays
// valid in any namespace. The device goes when the handle is closed.
int OpenTun(const std::string& ns) {
    const int previous = Enter(ns);
    const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, kDevice, IFNAMSIZ - 1);
    const bool made = fd >= 0 && ::ioctl(fd, TUNSETIFF, &request) == 0;
    Leave(previous);
    if (!made)
        Fail("cannot make a TUN device in " + ns);
    return fd;
}

void WriteSetting(const std::string& ns, const std::string& key, const std::string& value) {
    const int previous = Enter(ns);
    std::ofstream("/proc/sys/" + key) << value << "\n";
    std::ifstream check("/proc/sys/" + key);
    std::string got;
    std::getline(check, got);
    Leave(previous);
    // The kernel writes lists with tabs.
    std::replace(got.begin(), got.end(), '\t', ' ');
    if (got != value) {
        errno = 0;
        Fail("cannot set " + key + " in " + ns + " (reads '" + got + "')");
    }
}

// Whether `pid` is a forwarder of ours (a stale pid file may name another process by now).
bool IsForwarder(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return all.find("net_link") != std::string::npos && all.find("forwarder") != std::string::npos;
}

std::string Number(double value) {
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}

// The forwarder is this program again ("net_link forwarder ..."), in a session of its own so
// that it outlives the command that made the link and no terminal signal reaches it; LinkDown
// ends it. It inherits the two devices' handles.
pid_t StartForwarder(const ForwarderConfig& config) {
    for (const int fd : config.tun)
        ::fcntl(fd, F_SETFD, 0);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::vector<std::string> argv = {self,
                                           "forwarder",
                                           std::to_string(config.tun[0]),
                                           std::to_string(config.tun[1]),
                                           std::to_string(config.oneWayNs),
                                           Number(config.loss),
                                           std::to_string(config.seed),
                                           std::to_string(config.slots),
                                           config.statsPath};
    bench::StartOptions options;
    options.newSession = true;
    options.input = bench::kNullDevice;
    options.output = bench::kNullDevice;
    try {
        return bench::StartProcess(argv, options);
    } catch (const std::system_error& error) {
        throw std::runtime_error("cannot start the forwarder: " + error.code().message());
    }
}

} // namespace

std::string Namespace(const std::string& name, const std::string& side) {
    return name + "-" + side;
}

void LinkDown(const std::string& name) {
    CheckName(name);
    std::ifstream pidIn(PidFile(name));
    pid_t forwarder = 0;
    if (pidIn >> forwarder && forwarder > 0 && IsForwarder(forwarder))
        bench::StopProcess(forwarder);
    for (const std::string side : {"near", "far"}) {
        const std::string ns = Namespace(name, side);
        if (!std::filesystem::exists("/run/netns/" + ns))
            continue;
        // What a benchmark left running inside (after a crash): it cannot outlive the link.
        const std::string pids = Output({"ip", "netns", "pids", ns});
        std::istringstream list(pids);
        for (pid_t pid; list >> pid;)
            if (pid > 1 && pid != ::getpid())
                ::kill(pid, SIGKILL);
        Run({"ip", "netns", "del", ns}, true);
    }
    std::error_code ignored;
    std::filesystem::remove(PidFile(name), ignored);
    std::filesystem::remove(StatsFile(name), ignored);
}

void LinkUp(const LinkParams& params) {
    CheckName(params.name);
    if (params.rttMs < 0 || params.rateMbit < 0 || params.loss < 0 || params.loss >= 1 ||
        params.subnet < 1 || params.subnet > 254)
        throw std::runtime_error("the round trip and rate must be 0 or more, the loss below 1 and "
                                 "the subnet 1 to 254");
    LinkDown(params.name);
    std::filesystem::create_directories(kStateDirectory);
    const std::string near = Namespace(params.name, "near");
    const std::string far = Namespace(params.name, "far");
    try {
        MustRun({"ip", "netns", "add", near});
        MustRun({"ip", "netns", "add", far});

        ForwarderConfig config;
        config.tun[0] = OpenTun(near);
        config.tun[1] = OpenTun(far);
        config.oneWayNs = static_cast<std::uint64_t>(params.rttMs * 1e6 / 2);
        config.loss = params.loss;
        config.seed = params.seed;
        // Room for four times what the link holds in flight at its rate, in full packets (small
        // ones take a slot each too); never fewer than 4096 slots.
        const double inFlight = params.rateMbit * 1e6 / 8 * params.rttMs / 2 / 1e3;
        config.slots = std::max<std::size_t>(4096, static_cast<std::size_t>(4 * inFlight / kMtu));
        config.statsPath = StatsFile(params.name).string();
        std::error_code ignored;
        std::filesystem::remove(config.statsPath, ignored);

        const pid_t child = StartForwarder(config);
        ::close(config.tun[0]);
        ::close(config.tun[1]);
        std::ofstream(PidFile(params.name)) << child << "\n";

        const std::string queueBytes = std::to_string(std::max<long long>(
            10 * kMtu,
            static_cast<long long>(params.rateMbit * 1e6 / 8 *
                                   (params.queueMs < 0 ? params.rttMs : params.queueMs) / 1e3)));
        const std::string burstBytes = std::to_string(
            std::max<long long>(10 * kMtu, static_cast<long long>(params.rateMbit * 1e6 / 8e3)));
        for (int end = 1; end <= 2; ++end) {
            const std::string ns = end == 1 ? near : far;
            const std::string host = std::to_string(end);
            const std::string subnet = std::to_string(params.subnet);
            MustRun({"ip", "-n", ns, "link", "set", "lo", "up"});
            // The TUN driver's own queue must never drop: the rate limiter's queue is the link's.
            MustRun({"ip", "-n", ns, "link", "set", kDevice, "mtu", std::to_string(kMtu),
                     "txqueuelen", "10000", "up"});
            MustRun({"ip", "-n", ns, "addr", "add", "10." + subnet + ".0." + host + "/24", "dev",
                     kDevice});
            MustRun({"ip", "-n", ns, "addr", "add", "fd00:" + subnet + "::" + host + "/64", "dev",
                     kDevice, "nodad"});
            if (params.rateMbit > 0)
                MustRun({"tc", "-n", ns, "qdisc", "add", "dev", kDevice, "root", "tbf", "rate",
                         Number(params.rateMbit) + "mbit", "burst", burstBytes, "limit",
                         queueBytes});
            // A 50 ms round trip at 1 Gbit/s holds 6.25 MB in flight: the send buffer that the
            // kernel grows by itself must be allowed beyond that (the system's limit is 4 MB),
            // the receive buffer too. These are the namespace's own; net.core.[rw]mem_max, which
            // only caps sizes a program sets itself, belongs to the whole machine and is left.
            WriteSetting(ns, "net/ipv4/tcp_wmem", "4096 16384 67108864");
            WriteSetting(ns, "net/ipv4/tcp_rmem", "4096 131072 67108864");
        }
    } catch (...) {
        LinkDown(params.name);
        throw;
    }
}

[[noreturn]] void ExecIn(const std::string& name, const std::string& side,
                         const std::vector<std::string>& argv) {
    CheckName(name);
    if (side != "near" && side != "far")
        throw std::runtime_error("the side is near or far");
    if (argv.empty())
        throw std::runtime_error("no command to run");
    const int previous = Enter(Namespace(name, side));
    ::close(previous);
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    Fail("cannot run " + argv[0]);
}

std::string LinkStats(const std::string& name) {
    CheckName(name);
    std::ifstream pidIn(PidFile(name));
    pid_t forwarder = 0;
    if (!(pidIn >> forwarder) || !IsForwarder(forwarder))
        throw std::runtime_error("the link " + name + " is not up");
    const auto generation = [&] {
        std::ifstream in(StatsFile(name));
        std::string word;
        int number = 0;
        in >> word >> number;
        return number;
    };
    const int before = generation();
    ::kill(forwarder, SIGUSR1);
    for (int waited = 0; waited < 2000 && generation() == before; waited += 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::ifstream in(StatsFile(name));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace netlink
