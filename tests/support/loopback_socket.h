// Plain blocking TCP sockets on 127.0.0.1 for the test peers.
#pragma once

#include <cstdint>
#include <string>

namespace test_support {

// A socket listening on 127.0.0.1 at a port the system chooses (returned in `port`).
// Throws std::runtime_error when the system refuses.
int ListenLoopback(std::uint16_t& port);

// A connected socket to address:port, or -1.
int ConnectTo(const std::string& address, std::uint16_t port);

// The same from another address of this machine (`source`, such as 127.0.0.2), as another
// program there would connect. Its reads give up after 10 s.
int ConnectFrom(const std::string& source, const std::string& address, std::uint16_t port);

} // namespace test_support
