#include "platform/broken_pipe.h"

#include <csignal>

namespace platform {

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

bool BrokenPipeIgnored() {
    struct sigaction current {};
    return ::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace platform
