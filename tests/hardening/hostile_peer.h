// An FTP server that misbehaves on purpose, for the fault-injection tests. It listens on
// 127.0.0.1 (port chosen by the system), accepts one control connection and plays a script
// in a helper thread: replies byte for byte (also one byte at a time, or with any byte
// value), silence, a close or a reset of the control connection at any point, and a data
// connection (PORT: connect back or never; PASV: listen, announce any address) that it can
// close or reset part-way through the data.
//
// Every blocking step is bounded, so a client fault fails the test instead of hanging it.
// At the end of the script the peer closes everything; the destructor stops and joins.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hardening {

class HostilePeer {
public:
    using Milliseconds = std::chrono::milliseconds;

    HostilePeer();
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    std::uint16_t Port() const { return controlPort_; }

    // --- control connection ---
    // "{H}" and "{L}" become the high and low byte of the passive data port.
    HostilePeer& Send(std::string bytes);
    // One write per byte, `pause` apart.
    HostilePeer& SendByteByByte(std::string bytes, Milliseconds pause);
    // Bytes made when the step runs, from the passive data port (after ListenPassive).
    HostilePeer& SendComputed(std::function<std::string(std::uint16_t passivePort)> make);
    // Reads one command line and records it.
    HostilePeer& Expect();
    HostilePeer& Reply(std::string bytes);
    // The usual log-on: greeting, 331 to USER, 230 to PASS.
    HostilePeer& LogOn();
    // Answers nothing, recording commands, until the client closes the connection.
    HostilePeer& SilenceUntilClientCloses();
    HostilePeer& CloseControl();
    // Closes with a reset (RST) instead of an orderly close.
    HostilePeer& ResetControl();

    // --- data connection ---
    HostilePeer& ListenPassive();
    HostilePeer& AcceptPassive();
    HostilePeer& ConnectToPort();
    // Reads until the client closes the data connection.
    HostilePeer& ReceiveData();
    // Reads at least `bytes` bytes, then closes (orderly) or resets the data connection.
    HostilePeer& ReceiveThenCloseData(std::size_t bytes);
    HostilePeer& ReceiveThenResetData(std::size_t bytes);

    // --- running and results ---
    void Start();
    // Waits (bounded) for the script to end; true when every step completed.
    bool Finish(Milliseconds limit = Milliseconds(20000));
    std::vector<std::string> Commands() const;
    std::string ReceivedData() const;
    bool DataConnectionMade() const { return dataConnectionMade_; }
    std::string Error() const;

private:
    using Step = std::function<bool()>;

    void Run();
    bool Fail(const std::string& why);
    bool WaitReadable(int fd);
    bool WriteAll(int fd, const std::string& bytes);
    bool ReadLine(std::string& line, bool& closed);
    bool ReceiveAtLeast(std::size_t bytes);
    std::string Substitute(std::string bytes) const;
    static void Reset(int& fd);

    int listener_ = -1;
    int control_ = -1;
    int dataListener_ = -1;
    int data_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::uint16_t controlPort_ = 0;
    std::uint16_t passivePort_ = 0;
    std::string pending_;

    std::vector<Step> steps_;
    std::thread thread_;
    std::atomic<bool> dataConnectionMade_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> commands_;
    std::string received_;
    std::string error_;
    bool done_ = false;
    bool completed_ = false;
};

} // namespace hardening
