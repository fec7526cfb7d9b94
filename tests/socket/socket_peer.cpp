#include "tests/socket/socket_peer.h"

#include "platform/event_pump.h"
#include "tests/support/loopback_socket.h"

#include <stdexcept>

namespace test_support {
namespace {

constexpr int kPeerBoundMs = 10000;

} // namespace

Peer::Peer(std::function<void(int connection)> script) {
    listener_ = ListenLoopback(port_);
    thread_ = std::thread([this, script = std::move(script)] {
        int connection = -1;
        if (WaitReadable(listener_, -1, kPeerBoundMs) == 1)
            connection = AcceptOn(listener_);
        if (connection >= 0)
            BoundBlockingCalls(connection, kPeerBoundMs);
        script(connection);
        CloseSocket(connection);
        finished_ = true;
    });
}

Peer::~Peer() {
    signals_ = 1000000; // releases a script still waiting
    if (thread_.joinable())
        thread_.join();
    CloseSocket(listener_);
}

bool Peer::WaitForSignal(int count) const {
    for (int waited = 0; waited < kPeerBoundMs && signals_ < count; waited += 5)
        Pause(5);
    return signals_ >= count;
}

void SendAll(int connection, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const long n = SendSome(connection, data.data() + sent, data.size() - sent);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string ReceiveExactly(int connection, std::size_t count) {
    std::string data(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        const long n = ReceiveSome(connection, data.data() + got, count - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return data;
}

std::string ReceiveUntilClosed(int connection) {
    std::string data;
    char block[65536];
    for (;;) {
        const long n = ReceiveSome(connection, block, sizeof block);
        if (n <= 0)
            return data;
        data.append(block, static_cast<std::size_t>(n));
    }
}

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    CloseSocket(ListenLoopback(port));
    return port;
}

FullListener::FullListener() {
    listener_ = ListenLoopback(port_, 0);
    // Connections that are never accepted fill the queue; later SYNs are dropped.
    for (int& filler : fillers_)
        filler = ConnectWithoutWaiting("127.0.0.1", port_);
    Pause(50);
}

FullListener::~FullListener() {
    for (int filler : fillers_)
        CloseSocket(filler);
    CloseSocket(listener_);
}

bool PumpUntil(const std::function<bool()>& done, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    platform::ProcessMessages();
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        platform::WaitForEvents(20);
        platform::ProcessMessages();
    }
    return true;
}

DelayedAction::DelayedAction(int delayMs, std::function<void()> action)
    : timer_(std::make_unique<TThreadTimer>()), action_(std::move(action)) {
    timer_->SetInterval(static_cast<std::uint32_t>(delayMs));
    timer_->SetOnTimer([this](TObject*) {
        timer_->SetEnabled(false);
        fired_ = true;
        action_();
    });
}

DelayedAction::~DelayedAction() = default;

} // namespace test_support
