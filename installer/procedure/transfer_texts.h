// How the installer words amounts of data, rates and durations for the operator. Units are
// decimal, as a network's rates are given: 1 KB is 1000 bytes, 1 MB/s a million bytes a
// second. A number below 10 keeps one decimal ("4.4 GB"), a larger one none ("112 MB/s").
#pragma once

#include <cstdint>
#include <string>

namespace installer {

// "0 bytes", "999 bytes", "1.0 KB", "4.4 GB", "112 MB".
std::string ByteCountText(std::int64_t bytes);

// "850 KB/s", "112 MB/s"; `bytesPerSecond` below 0 counts as 0.
std::string RateText(double bytesPerSecond);

// A time still to wait: "29 s", "4 min 10 s", "1 h 12 min" (seconds rounded up, so that
// the last second reads "1 s", not "0 s").
std::string TimeLeftText(double seconds);

// A time that has passed: "0.4 s" below 10 s, then "39 s", "4 min 10 s", "1 h 12 min".
std::string ElapsedText(double seconds);

// The whole percentage of `part` in `whole`: 0 to 100, never 100 before `part` reaches
// `whole` (an empty whole counts as done).
int WholePercent(std::int64_t part, std::int64_t whole);

} // namespace installer
