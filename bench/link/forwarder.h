// The link's own program: moves every packet between the two namespaces' TUN devices, each
// held for the one-way delay, a set fraction lost. The loss pattern of each direction starts
// again from its seed at every TCP SYN, so every connection meets the same losses. Runs until
// SIGTERM or SIGINT; SIGUSR1 writes its counters and CPU time to the stats file.
#pragma once

#include <cstdint>
#include <string>

namespace netlink {

struct ForwarderConfig {
    int tun[2] = {-1, -1}; // the near and the far end's devices, non-blocking
    std::uint64_t oneWayNs = 0;
    double loss = 0;
    std::uint64_t seed = 1;
    std::size_t slots = 4096; // per direction
    std::string statsPath;
};

// Returns the exit status.
int RunForwarder(const ForwarderConfig& config);

} // namespace netlink
