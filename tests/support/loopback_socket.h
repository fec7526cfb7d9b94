// Plain blocking TCP sockets on 127.0.0.1 for the test peers, over POSIX sockets or Windows
// Sockets (the build picks loopback_socket_posix.cpp or loopback_socket_win.cpp). A socket is
// an int, -1 for none, as in the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace test_support {

// A socket listening on 127.0.0.1 at a port the system chooses (returned in `port`).
// Throws std::runtime_error when the system refuses.
int ListenLoopback(std::uint16_t& port, int backlog = 4);

// A socket bound to 127.0.0.1 at a port the system chooses, never listening: a connection
// to it is refused while the port stays taken. Throws like ListenLoopback.
int BindLoopback(std::uint16_t& port);

// A connected socket to address:port, or -1.
int ConnectTo(const std::string& address, std::uint16_t port);

// A connection to address:port started without waiting for it to complete, or -1.
int ConnectWithoutWaiting(const std::string& address, std::uint16_t port);

// The same from another address of this machine (`source`, such as 127.0.0.2), as another
// program there would connect. Its reads give up after 10 s.
int ConnectFrom(const std::string& source, const std::string& address, std::uint16_t port);

// The next connection waiting on a listener (blocking), or -1.
int AcceptOn(int listener);

// One send or receive call: the bytes moved, 0 for a closed connection, -1 for a failure
// (a broken connection never raises a signal).
long SendSome(int socket, const char* data, std::size_t length);
long ReceiveSome(int socket, char* buffer, std::size_t length);

// True when the last failed call of this thread failed because the peer reset the
// connection.
bool LastFailureWasReset();

// Makes every call on the socket return at once instead of waiting.
void MakeNonBlocking(int socket);

// Bounds every blocking send and receive of the socket.
void BoundBlockingCalls(int socket, int milliseconds);

// Ends both directions without closing the handle.
void ShutdownSocket(int socket);
// Closes the socket; -1 is ignored.
void CloseSocket(int socket);
// Closes with a reset (RST) instead of an orderly close, as a crashed or hostile peer would.
void ResetSocket(int socket);

// Whether the peer of this connection refused it unanswered: not a byte to read and, where
// the system turns a close after a zero SO_LINGER into a reset, a reset. Linux and Windows
// do; wine closes such a socket in order, so its peer reads an end, not a reset.
bool RefusedUnanswered(int socket);

// Bytes waiting in a socket's receive queue, -1 when that cannot be told.
int BytesWaiting(int socket);

// Waits up to `milliseconds` until `socket` has something to read (or accept, or a close)
// or `wake` (-1: none) does. 1 for the socket, 2 for `wake`, 0 when the time ran out.
int WaitReadable(int socket, int wake, int milliseconds);

// Something another thread can raise to end a WaitReadable on Handle() at once.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    int Handle() const { return read_; }
    void Raise();

private:
    int read_ = -1;
    int write_ = -1;
};

} // namespace test_support
