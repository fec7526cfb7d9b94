// What the benchmark's two FTP servers have in common besides their process (StartServer and
// StopProcess of bench/common/process.h): a free port and their CPU time. Nothing here starts a
// process, so that the tests' support can borrow FreeLoopbackPort alone.
#pragma once

#include <cstdint>

namespace bench {

// A port on 127.0.0.1 that was free a moment ago (for a server that takes its port as given).
std::uint16_t FreeLoopbackPort();

// CPU seconds (user + system) of the process `pid` itself, or with `ofReapedChildren` those of
// its children that it has waited for.
double ProcessCpuSeconds(int pid, bool ofReapedChildren);

} // namespace bench
