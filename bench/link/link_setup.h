// The benchmark's link between two network namespaces of its own, "<name>-near" and
// "<name>-far", joined by a TUN device in each and the forwarder between them:
//
//   near  tl0  10.<subnet>.0.1/24  fd00:<subnet>::1/64
//   far   tl0  10.<subnet>.0.2/24  fd00:<subnet>::2/64
//
// Nothing else is in either namespace but its loopback, and no route leads anywhere else, so
// no packet of the link can reach another network. Needs root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace netlink {

struct LinkParams {
    std::string name = "nl";
    double rttMs = 50;
    double rateMbit = 100; // 0: no rate limit
    double loss = 0;       // fraction of packets lost, each direction
    std::uint64_t seed = 1;
    double queueMs = -1; // the rate limiter's queue, in time at the rate; below 0: one RTT
    int subnet = 201;
};

// Tears down what an earlier link of this name left (also after a crash), then makes the
// namespaces, starts the forwarder in the background and configures addresses, rate and
// TCP buffers. Throws std::runtime_error on failure, having cleaned up.
void LinkUp(const LinkParams& params);

// Ends the forwarder and every process still inside the two namespaces, and deletes them.
// Quiet and successful when there is nothing to tear down.
void LinkDown(const std::string& name);

// Replaces this process by `argv` run inside the namespace `side` ("near" or "far").
[[noreturn]] void ExecIn(const std::string& name, const std::string& side,
                         const std::vector<std::string>& argv);

// The forwarder's counters and CPU time so far, as lines of text.
std::string LinkStats(const std::string& name);

// The namespace of one side of the link.
std::string Namespace(const std::string& name, const std::string& side);

} // namespace netlink
