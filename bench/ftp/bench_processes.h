// Child processes of the benchmark: each measured run is a process of its own, so that its
// CPU time and peak memory are its alone.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ChildResult {
    std::string output; // what the child wrote to standard output
    double wallSeconds = 0;
    double cpuSeconds = 0; // user + system
    double peakResidentMiB = 0;
    int exitStatus = -1;
};

// Runs argv[0] with the arguments and waits for it.
ChildResult RunChild(const std::vector<std::string>& argv);

// Seconds on a monotonic clock.
double Now();

} // namespace bench
