// The benchmarks' helper processes: started with their arguments, waited for, and stopped.
// One place for posix_spawn, so that every helper gets the same care with descriptors,
// sessions and the end of the process.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Where one of a started program's standard streams goes: ours (kInherit), /dev/null
// (kNullDevice), or any other value, a descriptor of ours that it gets as the stream.
inline constexpr int kInherit = -1;
inline constexpr int kNullDevice = -2;

struct StartOptions {
    bool searchPath = false; // argv[0] may be a bare name, looked for in PATH
    bool newSession = false; // a session of its own: no signal of our terminal reaches it
    int input = kInherit;
    int output = kInherit;
    int errors = kInherit;
};

// Starts argv[0] with the arguments and our environment; returns its process id. Throws
// std::system_error, the reason as its code, when it cannot be started. Descriptors of ours reach
// it only as the streams above or when they are without close-on-exec.
pid_t StartProcess(const std::vector<std::string>& argv, const StartOptions& options = {});

// Starts argv[0] as StartProcess does and waits (at most 2 s) until it accepts connections on
// 127.0.0.1:`port`. Returns its process id; throws when it does not come up, having stopped it.
pid_t StartServer(const std::vector<std::string>& argv, std::uint16_t port);

// Waits until the child `pid` has ended. Returns its exit status, or -1 when it was ended by
// a signal (or is not a child of ours). With `usage`, also its resource usage.
int WaitProcess(pid_t pid, rusage* usage = nullptr);

// Ends `pid`: SIGTERM, then SIGKILL once `bound` has passed without its end. A child of ours
// is waited for (nothing is left of it afterwards); of another process only the end is
// awaited, for at most `bound`. Returns the exit status as WaitProcess does (-1 for a process
// that is not a child). Nothing happens for a pid of 0 or less.
int StopProcess(pid_t pid, std::chrono::milliseconds bound = std::chrono::seconds(2));

// Everything that can be read from `fd` until its end.
std::string ReadToEnd(int fd);

} // namespace bench
