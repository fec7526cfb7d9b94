#include "delay_line.h"

#include <cmath>
#include <limits>

namespace netlink {

LossPattern::LossPattern(double fraction, std::uint64_t seed) : state_(seed) {
    const double scaled = std::ldexp(fraction, 64);
    threshold_ = fraction <= 0   ? 0
                 : fraction >= 1 ? std::numeric_limits<std::uint64_t>::max()
                                 : static_cast<std::uint64_t>(scaled);
}

DelayLine::DelayLine(std::size_t slots)
    : data_(slots * kSlotBytes), length_(slots), release_(slots) {}

} // namespace netlink
