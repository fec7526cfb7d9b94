// A GoogleTest listener that fails every test which leaves something behind: a file
// descriptor of the process, a socket still registered for notifications, or a host-lookup
// worker still running. Every test main installs it once the application object exists.
#pragma once

namespace test_support {

// Creates, once, what the process keeps for its whole life (the notification set of the
// sockets), then installs the listener. Call after InitGoogleTest and after the
// application object has been made.
void InstallLeakCheck();

} // namespace test_support
