#include "bench_environment.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace bench {

namespace {

constexpr const char* kCongestion = "/proc/sys/net/ipv4/tcp_congestion_control";
constexpr const char* kAllowed = "/proc/sys/net/ipv4/tcp_allowed_congestion_control";

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno) + " (the benchmark needs root)");
}

std::string ReadCongestion() {
    std::ifstream in(kCongestion);
    std::string name;
    in >> name;
    return name;
}

std::string ReadAllowed() {
    std::ifstream in(kAllowed);
    std::string names;
    std::getline(in, names);
    return names;
}

// Makes `name` the namespace's default; false when the kernel refuses it.
bool SetCongestion(const std::string& name) {
    std::ofstream(kCongestion) << name << "\n";
    return ReadCongestion() == name;
}

} // namespace

Congestion UsePrivateLoopback(const std::string& congestion) {
    const std::string machine = ReadCongestion();
    if (::unshare(CLONE_NEWNET) != 0)
        Fail("cannot make a network namespace");
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        ::close(fd);
    if (!up)
        Fail("cannot bring up the loopback device");
    const std::string wanted = congestion == "system" ? machine : congestion;
    if (SetCongestion(wanted))
        return {wanted, ""};
    // Per socket (TCP_CONGESTION) would reach only the benchmark's own sockets, not those of
    // the client under test or of curl, and every sender must run under the same algorithm.
    const std::string allowed = ReadAllowed();
    if (wanted == "cubic" && SetCongestion("reno"))
        return {"reno", "cubic is not allowed in a network namespace on this machine (allowed: " +
                            allowed + "); reno does not pace either"};
    throw std::runtime_error("the congestion control '" + wanted +
                             "' is not available in a network namespace on this machine "
                             "(allowed: " +
                             allowed + ")");
}

MemoryDirectory::MemoryDirectory(const std::filesystem::path& parent, std::size_t bytes) {
    std::string pattern = (parent / "ftp-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        Fail("cannot make a directory in " + parent.string());
    path_ = pattern;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        Fail("cannot make a mount namespace");
    // Huge pages: a server that writes the upload into this directory allocates 512 times
    // fewer pages, and the client's reads of the file look up as many fewer.
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755,huge=always";
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) != 0)
        Fail("cannot mount a tmpfs on " + path_.string());
}

MemoryDirectory::~MemoryDirectory() {
    ::umount2(path_.c_str(), MNT_DETACH);
    ::rmdir(path_.c_str());
}

} // namespace bench
