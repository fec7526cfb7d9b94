// The far end of the socket layer's tests: a peer on 127.0.0.1 (port chosen by the system)
// that runs a script in a helper thread, and helpers for bounded waits on the main thread.
#pragma once

#include "socket/stream_socket.h"
#include "tests/support/loopback_socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace test_support {

// Listens on 127.0.0.1; the script runs in a helper thread with the first accepted
// connection (or -1 when none came within the bound). The destructor joins the thread.
class Peer {
public:
    explicit Peer(std::function<void(int connection)> script);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    std::uint16_t Port() const { return port_; }
    bool Finished() const { return finished_; }
    // Tells the script (through WaitForSignal) to go on; counts the signals.
    void Signal() { ++signals_; }
    // Waits (bounded) until `count` signals in all have been given.
    bool WaitForSignal(int count = 1) const;

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> finished_{false};
    std::atomic<int> signals_{0};
    std::thread thread_;
};

// Blocking helpers for scripts; each is bounded by a receive/send time-out.
void SendAll(int connection, const std::string& data);
std::string ReceiveExactly(int connection, std::size_t count);
// Everything until the other side closes (bounded).
std::string ReceiveUntilClosed(int connection);
void Pause(int milliseconds);

// A port on 127.0.0.1 where nothing listens (bound and closed again).
std::uint16_t ClosedPort();

// A listener whose backlog is full, so that further connection attempts get no answer.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    std::uint16_t Port() const { return port_; }

private:
    int listener_ = -1;
    int fillers_[4] = {-1, -1, -1, -1};
    std::uint16_t port_ = 0;
};

// Runs the event pump until `done` holds or the bound passes; returns `done()`. The bound
// only keeps a fault from hanging the test.
bool PumpUntil(const std::function<bool()>& done, int boundMs = 10000);

// Calls `action` once on the main thread after `delayMs`, from the event loop.
class DelayedAction {
public:
    DelayedAction(int delayMs, std::function<void()> action);
    ~DelayedAction();
    bool Fired() const { return fired_; }

private:
    std::unique_ptr<TThreadTimer> timer_;
    std::function<void()> action_;
    bool fired_ = false;
};

} // namespace test_support
