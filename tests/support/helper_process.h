// The programs that tests start beside themselves (FTP servers, probes, writers) run as
// QProcess children.
#pragma once

class QProcess;

namespace test_support {

// Makes the child inherit nothing but its standard input, output and error. A copy of one
// of the test's sockets in a helper would keep that connection open after the test closed
// it, and a peer would then wait for a close that never comes.
void InheritOnlyStandardStreams(QProcess& process);

} // namespace test_support
