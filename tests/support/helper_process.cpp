#include "tests/support/helper_process.h"

#include <QProcess>

#include <unistd.h>

namespace test_support {

void InheritOnlyStandardStreams(QProcess& process) {
    // Runs in the child between fork and exec. Marking the descriptors close-on-exec
    // rather than closing them keeps the one through which the child reports a failed
    // exec to QProcess.
    process.setChildProcessModifier([] { ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC); });
}

} // namespace test_support
