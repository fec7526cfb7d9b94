#include "tests/support/scripted_ftp_peer.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace test_support {

namespace {

void CloseFd(int& fd) {
    CloseSocket(fd);
    fd = -1;
}

} // namespace

ScriptedFtpPeer::ScriptedFtpPeer(Milliseconds stepLimit) : stepLimit_(stepLimit) {
    listener_ = ListenLoopback(controlPort_);
}

ScriptedFtpPeer::~ScriptedFtpPeer() {
    if (thread_.joinable()) {
        stop_.Raise();
        thread_.join();
    }
    CloseFd(control_);
    CloseFd(data_);
    CloseFd(dataListener_);
    CloseFd(listener_);
}

ScriptedFtpPeer& ScriptedFtpPeer::Send(std::string bytes) {
    steps_.push_back([this, bytes = std::move(bytes)] {
        return WriteAll(control_, Substitute(bytes)) || Fail("send failed");
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::SendSplit(std::vector<std::string> segments, Milliseconds pause) {
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0)
            Pause(pause);
        Send(std::move(segments[i]));
    }
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::SendByteByByte(std::string bytes, Milliseconds pause) {
    steps_.push_back([this, bytes = std::move(bytes), pause] {
        for (const char byte : bytes) {
            if (!WriteAll(control_, std::string(1, byte)))
                return Fail("send failed");
            if (test_support::WaitReadable(stop_.Handle(), -1, static_cast<int>(pause.count())) !=
                0)
                return Fail("stopped");
        }
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::SendComputed(std::function<std::string(std::uint16_t)> make) {
    steps_.push_back([this, make = std::move(make)] {
        return WriteAll(control_, make(passivePort_)) || Fail("send failed");
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::Pause(Milliseconds pause) {
    steps_.push_back([this, pause] {
        // Sleeping on the stop signal keeps the destructor prompt.
        return test_support::WaitReadable(stop_.Handle(), -1, static_cast<int>(pause.count())) ==
                   0 ||
               Fail("stopped");
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::Expect() {
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

ScriptedFtpPeer& ScriptedFtpPeer::Reply(std::string bytes) {
    Expect();
    return Send(std::move(bytes));
}

ScriptedFtpPeer& ScriptedFtpPeer::LogOn(std::string greeting) {
    return Send(std::move(greeting)).Reply("331 Password required\r\n").Reply("230 Logged on\r\n");
}

ScriptedFtpPeer& ScriptedFtpPeer::Close() {
    steps_.push_back([this] {
        CloseFd(control_);
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::ResetControl() {
    steps_.push_back([this] {
        Reset(control_);
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::AwaitClientClose() {
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

ScriptedFtpPeer& ScriptedFtpPeer::AwaitSignal() {
    steps_.push_back([this] {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, stepLimit_, [this] { return signalled_.load(); })) {
            error_ = "no signal";
            return false;
        }
        signalled_ = false;
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::ListenPassive() {
    steps_.push_back([this] {
        CloseFd(dataListener_);
        dataListener_ = ListenLoopback(passivePort_);
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::AcceptPassive() {
    steps_.push_back([this] {
        if (!WaitReadable(dataListener_))
            return Fail("the client made no data connection");
        CloseFd(data_); // the data connection of an earlier transfer
        data_ = AcceptOn(dataListener_);
        CloseFd(dataListener_);
        dataConnectionMade_ = data_ >= 0;
        return data_ >= 0 || Fail("data accept failed");
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::ConnectToPort() {
    steps_.push_back([this] {
        std::string port;
        {
            std::lock_guard lock(mutex_);
            for (const auto& command : commands_)
                if (command.rfind("PORT ", 0) == 0)
                    port = command.substr(5);
        }
        unsigned a = 0, b = 0, c = 0, d = 0, hi = 0, lo = 0;
        if (std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &hi, &lo) != 6)
            return Fail("no valid PORT command: " + port);
        const std::string address = std::to_string(a) + "." + std::to_string(b) + "." +
                                    std::to_string(c) + "." + std::to_string(d);
        CloseFd(data_); // the data connection of an earlier transfer
        data_ = ConnectTo(address, static_cast<std::uint16_t>(hi * 256 + lo));
        dataConnectionMade_ = data_ >= 0;
        return data_ >= 0 || Fail("could not connect to " + address);
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::ReceiveData() {
    steps_.push_back([this] { return ReceiveAtLeast(SIZE_MAX); });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::CloseData() {
    steps_.push_back([this] {
        CloseFd(data_);
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::ReceiveThenCloseData(std::size_t bytes) {
    steps_.push_back([this, bytes] {
        if (!ReceiveAtLeast(bytes))
            return false;
        ShutdownSocket(data_);
        CloseFd(data_);
        return true;
    });
    return *this;
}

ScriptedFtpPeer& ScriptedFtpPeer::ReceiveThenResetData(std::size_t bytes) {
    steps_.push_back([this, bytes] {
        if (!ReceiveAtLeast(bytes))
            return false;
        Reset(data_);
        return true;
    });
    return *this;
}

void ScriptedFtpPeer::Start() {
    thread_ = std::thread([this] { Run(); });
}

void ScriptedFtpPeer::Signal() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

bool ScriptedFtpPeer::Finish(Milliseconds limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return done_.load(); });
    return done_ && completed_;
}

std::vector<std::string> ScriptedFtpPeer::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::string ScriptedFtpPeer::ReceivedData() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::string ScriptedFtpPeer::Error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void ScriptedFtpPeer::Run() {
    bool ok = WaitReadable(listener_) || Fail("the client did not connect");
    if (ok) {
        control_ = AcceptOn(listener_);
        ok = control_ >= 0 || Fail("accept failed");
    }
    for (std::size_t i = 0; ok && i < steps_.size(); ++i)
        ok = steps_[i]();
    // The end of the script is the end of the conversation: a client still waiting for a
    // reply then sees the close instead of waiting forever.
    CloseFd(data_);
    CloseFd(control_);
    {
        std::lock_guard lock(mutex_);
        completed_ = ok;
        done_ = true;
    }
    changed_.notify_all();
}

bool ScriptedFtpPeer::Fail(const std::string& why) {
    std::lock_guard lock(mutex_);
    if (error_.empty())
        error_ = why;
    return false;
}

bool ScriptedFtpPeer::WaitReadable(int fd) {
    if (fd < 0)
        return false;
    const int ready =
        test_support::WaitReadable(fd, stop_.Handle(), static_cast<int>(stepLimit_.count()));
    if (ready == 2)
        return Fail("stopped");
    return ready == 1;
}

bool ScriptedFtpPeer::WriteAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = SendSome(fd, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return fd >= 0;
}

bool ScriptedFtpPeer::ReceiveAtLeast(std::size_t bytes) {
    char block[65536];
    std::size_t got = 0;
    while (got < bytes) {
        if (!WaitReadable(data_))
            return Fail("data connection stalled");
        const auto n = ReceiveSome(data_, block, sizeof block);
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

void ScriptedFtpPeer::Reset(int& fd) {
    if (fd < 0)
        return;
    ResetSocket(fd);
    fd = -1;
}

bool ScriptedFtpPeer::ReadLine(std::string& line, bool& closed) {
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
        const auto n = ReceiveSome(control_, block, sizeof block);
        if (n <= 0) {
            closed = true;
            return false;
        }
        pending_.append(block, static_cast<std::size_t>(n));
    }
}

std::string ScriptedFtpPeer::Substitute(std::string bytes) const {
    const auto replace = [&bytes](const std::string& key, unsigned value) {
        for (auto at = bytes.find(key); at != std::string::npos; at = bytes.find(key))
            bytes.replace(at, key.size(), std::to_string(value));
    };
    replace("{H}", passivePort_ / 256u);
    replace("{L}", passivePort_ % 256u);
    return bytes;
}

} // namespace test_support
