// What the benchmark's two FTP servers have in common: a free port, a process started and
// waited for, its CPU time. StopProcess (bench/common/process.h) ends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A port on 127.0.0.1 that was free a moment ago (for a server that takes its port as given).
std::uint16_t FreeLoopbackPort();

// Starts argv[0] with the arguments and waits (at most 2 s) until it accepts connections on
// 127.0.0.1:`port`. Returns its process id; throws when it does not come up.
int StartServer(const std::vector<std::string>& argv, std::uint16_t port);

// CPU seconds (user + system) of the process `pid` itself, or with `ofReapedChildren` those of
// its children that it has waited for.
double ProcessCpuSeconds(int pid, bool ofReapedChildren);

} // namespace bench
