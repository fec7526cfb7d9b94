#include "platform/process_hardening.h"

#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace platform {

void DisableCoreDumps() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
    // Also closes /proc/<pid>/mem and /proc/<pid>/environ to the user's other processes.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

std::optional<std::string> TakeEnvironmentVariable(const char* name) {
    char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    std::string taken(value);
    // The text may be the one the program was started with, which /proc/<pid>/environ
    // shows for as long as the process lives; removing the variable alone leaves it there.
    ::explicit_bzero(value, std::strlen(value));
    ::unsetenv(name);
    return taken;
}

} // namespace platform
