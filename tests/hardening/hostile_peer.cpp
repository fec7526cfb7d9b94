#include "tests/hardening/hostile_peer.h"

#include "tests/support/loopback_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace hardening {
namespace {

// Long enough for a loaded machine; only a client fault gets near it.
constexpr int kStepLimitMs = 20000;

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

HostilePeer::HostilePeer() {
    if (::pipe(stopPipe_) != 0)
        throw std::runtime_error("hostile peer: pipe failed");
    listener_ = test_support::ListenLoopback(controlPort_);
}

HostilePeer::~HostilePeer() {
    if (thread_.joinable()) {
        const char stop = 's';
        [[maybe_unused]] auto written = ::write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    for (int* fd : {&control_, &data_, &dataListener_, &listener_, &stopPipe_[0], &stopPipe_[1]})
        CloseFd(*fd);
}

void HostilePeer::Reset(int& fd) {
    if (fd < 0)
        return;
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    CloseFd(fd);
}

HostilePeer& HostilePeer::Send(std::string bytes) {
    steps_.push_back([this, bytes = std::move(bytes)] {
        return WriteAll(control_, Substitute(bytes)) || Fail("send failed");
    });
    return *this;
}

HostilePeer& HostilePeer::SendByteByByte(std::string bytes, Milliseconds pause) {
    steps_.push_back([this, bytes = std::move(bytes), pause] {
        for (const char byte : bytes) {
            if (!WriteAll(control_, std::string(1, byte)))
                return Fail("send failed");
            pollfd stop{stopPipe_[0], POLLIN, 0};
            if (::poll(&stop, 1, static_cast<int>(pause.count())) != 0)
                return Fail("stopped");
        }
        return true;
    });
    return *this;
}

HostilePeer& HostilePeer::SendComputed(std::function<std::string(std::uint16_t)> make) {
    steps_.push_back([this, make = std::move(make)] {
        return WriteAll(control_, make(passivePort_)) || Fail("send failed");
    });
    return *this;
}

HostilePeer& HostilePeer::Expect() {
    steps_.push_back([this] {
        std::string line;
        bool closed = false;
        if (!ReadLine(line, closed))
            return closed ? Fail("client closed the connection") : false;
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
        return true;
    });
    return *this;
}

HostilePeer& HostilePeer::Reply(std::string bytes) {
    Expect();
    return Send(std::move(bytes));
}

HostilePeer& HostilePeer::LogOn() {
    return Send("220 Hostile server ready\r\n")
        .Reply("331 Password required\r\n")
        .Reply("230 Logged on\r\n");
}

HostilePeer& HostilePeer::SilenceUntilClientCloses() {
    steps_.push_back([this] {
        for (;;) {
            std::string line;
            bool closed = false;
            if (!ReadLine(line, closed))
                return closed;
            std::lock_guard lock(mutex_);
            commands_.push_back(line);
        }
    });
    return *this;
}

HostilePeer& HostilePeer::CloseControl() {
    steps_.push_back([this] {
        CloseFd(control_);
        return true;
    });
    return *this;
}

HostilePeer& HostilePeer::ResetControl() {
    steps_.push_back([this] {
        Reset(control_);
        return true;
    });
    return *this;
}

HostilePeer& HostilePeer::ListenPassive() {
    steps_.push_back([this] {
        dataListener_ = test_support::ListenLoopback(passivePort_);
        return true;
    });
    return *this;
}

HostilePeer& HostilePeer::AcceptPassive() {
    steps_.push_back([this] {
        if (!WaitReadable(dataListener_))
            return Fail("the client made no data connection");
        data_ = ::accept(dataListener_, nullptr, nullptr);
        CloseFd(dataListener_);
        dataConnectionMade_ = data_ >= 0;
        return data_ >= 0 || Fail("data accept failed");
    });
    return *this;
}

HostilePeer& HostilePeer::ConnectToPort() {
    steps_.push_back([this] {
        std::string argument;
        {
            std::lock_guard lock(mutex_);
            for (const auto& command : commands_)
                if (command.rfind("PORT ", 0) == 0)
                    argument = command.substr(5);
        }
        unsigned a = 0, b = 0, c = 0, d = 0, hi = 0, lo = 0;
        if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &hi, &lo) != 6)
            return Fail("no valid PORT command: " + argument);
        const std::string address = std::to_string(a) + "." + std::to_string(b) + "." +
                                    std::to_string(c) + "." + std::to_string(d);
        data_ = test_support::ConnectTo(address, static_cast<std::uint16_t>(hi * 256 + lo));
        dataConnectionMade_ = data_ >= 0;
        return data_ >= 0 || Fail("could not connect to " + address);
    });
    return *this;
}

bool HostilePeer::ReceiveAtLeast(std::size_t bytes) {
    char block[65536];
    std::size_t got = 0;
    while (got < bytes) {
        if (!WaitReadable(data_))
            return Fail("data connection stalled");
        const auto n = ::recv(data_, block, sizeof block, 0);
        if (n == 0)
            return bytes == SIZE_MAX || Fail("the client closed the data connection early");
        if (n < 0)
            return Fail("data receive failed");
        got += static_cast<std::size_t>(n);
        std::lock_guard lock(mutex_);
        received_.append(block, static_cast<std::size_t>(n));
    }
    return true;
}

HostilePeer& HostilePeer::ReceiveData() {
    steps_.push_back([this] { return ReceiveAtLeast(SIZE_MAX); });
    return *this;
}

HostilePeer& HostilePeer::ReceiveThenCloseData(std::size_t bytes) {
    steps_.push_back([this, bytes] {
        if (!ReceiveAtLeast(bytes))
            return false;
        ::shutdown(data_, SHUT_RDWR);
        CloseFd(data_);
        return true;
    });
    return *this;
}

HostilePeer& HostilePeer::ReceiveThenResetData(std::size_t bytes) {
    steps_.push_back([this, bytes] {
        if (!ReceiveAtLeast(bytes))
            return false;
        Reset(data_);
        return true;
    });
    return *this;
}

void HostilePeer::Start() {
    thread_ = std::thread([this] { Run(); });
}

bool HostilePeer::Finish(Milliseconds limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return done_; });
    return done_ && completed_;
}

std::vector<std::string> HostilePeer::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::string HostilePeer::ReceivedData() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::string HostilePeer::Error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void HostilePeer::Run() {
    bool ok = WaitReadable(listener_) || Fail("the client did not connect");
    if (ok) {
        control_ = ::accept(listener_, nullptr, nullptr);
        ok = control_ >= 0 || Fail("accept failed");
    }
    for (std::size_t i = 0; ok && i < steps_.size(); ++i)
        ok = steps_[i]();
    CloseFd(data_);
    CloseFd(control_);
    {
        std::lock_guard lock(mutex_);
        completed_ = ok;
        done_ = true;
    }
    changed_.notify_all();
}

bool HostilePeer::Fail(const std::string& why) {
    std::lock_guard lock(mutex_);
    if (error_.empty())
        error_ = why;
    return false;
}

bool HostilePeer::WaitReadable(int fd) {
    if (fd < 0)
        return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int n = ::poll(fds, 2, kStepLimitMs);
    if (n > 0 && (fds[1].revents & POLLIN))
        return Fail("stopped");
    return n > 0 && fds[0].revents != 0;
}

bool HostilePeer::WriteAll(int fd, const std::string& bytes) {
    if (fd < 0)
        return false;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool HostilePeer::ReadLine(std::string& line, bool& closed) {
    closed = false;
    for (;;) {
        const auto lf = pending_.find('\n');
        if (lf != std::string::npos) {
            line = pending_.substr(0, lf + 1);
            pending_.erase(0, lf + 1);
            return true;
        }
        if (!WaitReadable(control_))
            return Fail("no command from the client");
        char block[4096];
        const auto n = ::recv(control_, block, sizeof block, 0);
        if (n <= 0) {
            closed = true;
            return false;
        }
        pending_.append(block, static_cast<std::size_t>(n));
    }
}

std::string HostilePeer::Substitute(std::string bytes) const {
    const auto replace = [&bytes](const std::string& key, unsigned value) {
        for (auto at = bytes.find(key); at != std::string::npos; at = bytes.find(key))
            bytes.replace(at, key.size(), std::to_string(value));
    };
    replace("{H}", passivePort_ / 256u);
    replace("{L}", passivePort_ % 256u);
    return bytes;
}

} // namespace hardening
