// Windows raises no signal for a connection that the peer has broken: a send into it only
// fails. There is nothing to ignore, and it counts as ignored.
#include "platform/broken_pipe.h"

namespace platform {

void IgnoreBrokenPipe() {}

bool BrokenPipeIgnored() {
    return true;
}

} // namespace platform
