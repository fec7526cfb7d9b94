#include "delay_line.h"

#include <cmath>
#include <limits>

namespace netlink {

LossPattern::LossPattern(double fraction, std::uint64_t seed) : seed_(seed), state_(seed) {
    const double scaled = std::ldexp(fraction, 64);
    threshold_ = fraction <= 0   ? 0
                 : fraction >= 1 ? std::numeric_limits<std::uint64_t>::max()
                                 : static_cast<std::uint64_t>(scaled);
}

bool IsTcpSyn(const std::uint8_t* packet, std::size_t bytes) {
    constexpr std::uint8_t kTcp = 6, kSyn = 0x02;
    std::size_t header = 0;
    if (bytes >= 20 && packet[0] >> 4 == 4 && packet[9] == kTcp)
        header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    else if (bytes >= 40 && packet[0] >> 4 == 6 && packet[6] == kTcp)
        header = 40;
    else
        return false;
    return bytes >= header + 14 && (packet[header + 13] & kSyn) != 0;
}

DelayLine::DelayLine(std::size_t slots)
    : data_(slots * kSlotBytes), length_(slots), release_(slots) {}

} // namespace netlink
