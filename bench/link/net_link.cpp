// The benchmark's own network link: two network namespaces joined through TUN devices by a
// forwarder that holds each packet for half the round trip and drops a set fraction (seeded,
// so a run can be repeated), with the rate set by a token bucket on each TUN device.
//
//   net_link up NAME [--rtt-ms 50] [--rate-mbit 100] [--loss 0.001] [--seed 1]
//                    [--queue-ms RTT] [--subnet 201]
//   net_link exec NAME near|far -- COMMAND [ARG...]
//   net_link stats NAME
//   net_link down NAME
//
// "up" first tears down whatever an earlier link of the same name left behind (a killed
// benchmark included); "down" always succeeds. Needs root.
#include "forwarder.h"
#include "link_setup.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double NumberArgument(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty())
        throw std::runtime_error(option + " needs a number, not '" + text + "'");
    return value;
}

netlink::LinkParams ParseUp(const std::vector<std::string>& args) {
    netlink::LinkParams params;
    params.name = args.at(1);
    for (std::size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            throw std::runtime_error(args[i] + " needs a value");
        const std::string& option = args[i];
        const double value = NumberArgument(option, args[i + 1]);
        if (option == "--rtt-ms")
            params.rttMs = value;
        else if (option == "--rate-mbit")
            params.rateMbit = value;
        else if (option == "--loss")
            params.loss = value;
        else if (option == "--seed")
            params.seed = static_cast<std::uint64_t>(value);
        else if (option == "--queue-ms")
            params.queueMs = value;
        else if (option == "--subnet")
            params.subnet = static_cast<int>(value);
        else
            throw std::runtime_error("unknown option " + option);
    }
    return params;
}

int Forwarder(const std::vector<std::string>& args) {
    netlink::ForwarderConfig config;
    config.tun[0] = std::stoi(args.at(1));
    config.tun[1] = std::stoi(args.at(2));
    config.oneWayNs = std::stoull(args.at(3));
    config.loss = std::stod(args.at(4));
    config.seed = std::stoull(args.at(5));
    config.slots = std::stoull(args.at(6));
    config.statsPath = args.at(7);
    return netlink::RunForwarder(config);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: net_link up NAME [--rtt-ms MS] [--rate-mbit MBIT] [--loss FRACTION] "
                 "[--seed N] [--queue-ms MS] [--subnet N]\n"
                 "       net_link exec NAME near|far -- COMMAND [ARG...]\n"
                 "       net_link stats NAME\n"
                 "       net_link down NAME\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2)
        return Usage();
    try {
        const std::string& command = args[0];
        if (command == "forwarder" && args.size() == 8)
            return Forwarder(args);
        if (command == "up") {
            const auto params = ParseUp(args);
            netlink::LinkUp(params);
            std::printf("link %s up: %s 10.%d.0.1 fd00:%d::1 <-> %s 10.%d.0.2 fd00:%d::2, "
                        "round trip %g ms, %g Mbit/s, loss %g\n",
                        params.name.c_str(), netlink::Namespace(params.name, "near").c_str(),
                        params.subnet, params.subnet,
                        netlink::Namespace(params.name, "far").c_str(), params.subnet,
                        params.subnet, params.rttMs, params.rateMbit, params.loss);
            return 0;
        }
        if (command == "down" && args.size() == 2) {
            netlink::LinkDown(args[1]);
            return 0;
        }
        if (command == "stats" && args.size() == 2) {
            std::fputs(netlink::LinkStats(args[1]).c_str(), stdout);
            return 0;
        }
        if (command == "exec" && args.size() >= 5 && args[3] == "--")
            netlink::ExecIn(args[1], args[2], {args.begin() + 4, args.end()});
        return Usage();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "net_link: %s\n", error.what());
        return 1;
    }
}
