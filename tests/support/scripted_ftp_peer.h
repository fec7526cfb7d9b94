// A scripted FTP server for the client's tests. It listens on 127.0.0.1 (port chosen by
// the system), accepts one control connection and plays a fixed script in a helper
// thread: exact reply bytes (optionally split into segments with pauses), reading and
// recording command lines, closing or resetting in the middle of a line, and serving one
// data connection for PORT (connect back, or never) or PASV (listen and announce any
// address) that it can close or reset part-way through the data. The misbehaving steps
// serve the fault-injection tests as well as the ordinary ones.
//
// Every blocking step is bounded, so a client fault ends the script with an error text
// instead of hanging the test. When the script ends the peer closes its connections, so
// a client waiting for more sees the close. The destructor stops the script and joins.
#pragma once

#include "tests/support/loopback_socket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

class ScriptedFtpPeer {
public:
    using Milliseconds = std::chrono::milliseconds;

    // `stepLimit` bounds every blocking step and is the default bound of Finish().
    explicit ScriptedFtpPeer(Milliseconds stepLimit = Milliseconds(10000));
    ~ScriptedFtpPeer();
    ScriptedFtpPeer(const ScriptedFtpPeer&) = delete;
    ScriptedFtpPeer& operator=(const ScriptedFtpPeer&) = delete;

    // The control port the client connects to.
    std::uint16_t Port() const { return controlPort_; }

    // --- Script steps, queued before Start() and played in order. ---

    // Writes the bytes exactly as given. "{H}" and "{L}" are replaced by the high and low
    // byte of the passive data port (after ListenPassive()).
    ScriptedFtpPeer& Send(std::string bytes);
    // Writes each segment separately, pausing between them, so the client sees a reply
    // arrive in pieces.
    ScriptedFtpPeer& SendSplit(std::vector<std::string> segments,
                               Milliseconds pause = Milliseconds(30));
    // One write per byte, `pause` after each.
    ScriptedFtpPeer& SendByteByByte(std::string bytes, Milliseconds pause);
    // Bytes made when the step runs, from the passive data port (after ListenPassive()).
    ScriptedFtpPeer& SendComputed(std::function<std::string(std::uint16_t passivePort)> make);
    ScriptedFtpPeer& Pause(Milliseconds pause);
    // Reads one command line (up to LF) and records it.
    ScriptedFtpPeer& Expect();
    // Expect() followed by Send(bytes).
    ScriptedFtpPeer& Reply(std::string bytes);
    // The usual log-on: `greeting`, 331 to USER, 230 to PASS.
    ScriptedFtpPeer& LogOn(std::string greeting = "220 Service ready\r\n");
    // Closes the control connection (after a partial Send this is a close mid-line).
    ScriptedFtpPeer& Close();
    // Closes the control connection with a reset (RST) instead of an orderly close.
    ScriptedFtpPeer& ResetControl();
    // Records command lines until the client closes the control connection.
    ScriptedFtpPeer& AwaitClientClose();
    // Blocks until Signal() is called from another thread.
    ScriptedFtpPeer& AwaitSignal();

    // Data connection.
    ScriptedFtpPeer& ListenPassive();
    ScriptedFtpPeer& AcceptPassive();
    // Connects to the address named by the last recorded PORT command.
    ScriptedFtpPeer& ConnectToPort();
    // Reads the data connection until the client closes it; the bytes are kept.
    ScriptedFtpPeer& ReceiveData();
    ScriptedFtpPeer& CloseData();
    // Reads at least `bytes` bytes, then closes (orderly) or resets the data connection.
    ScriptedFtpPeer& ReceiveThenCloseData(std::size_t bytes);
    ScriptedFtpPeer& ReceiveThenResetData(std::size_t bytes);

    // --- Running and results. ---

    void Start();
    // Wakes an AwaitSignal() step; callable from any thread.
    void Signal();
    // Waits (bounded) for the script to end. True when every step completed.
    bool Finish() { return Finish(stepLimit_); }
    bool Finish(Milliseconds limit);

    // Each received command line exactly as it arrived (terminator included).
    std::vector<std::string> Commands() const;
    std::string ReceivedData() const;
    bool DataConnectionMade() const { return dataConnectionMade_; }
    // Why the script stopped early; empty when it completed.
    std::string Error() const;

private:
    using Step = std::function<bool()>; // false stops the script (Error() says why)

    void Run();
    bool Fail(const std::string& why);
    bool WaitReadable(int fd);
    bool WriteAll(int fd, const std::string& bytes);
    bool ReadLine(std::string& line, bool& closed);
    // SIZE_MAX reads until the client closes the data connection.
    bool ReceiveAtLeast(std::size_t bytes);
    static void Reset(int& fd);
    std::string Substitute(std::string bytes) const;

    Milliseconds stepLimit_;
    int listener_ = -1;
    int control_ = -1;
    int dataListener_ = -1;
    int data_ = -1;
    WakeSignal stop_;
    std::uint16_t controlPort_ = 0;
    std::uint16_t passivePort_ = 0;
    std::string pending_; // control bytes read past the last line

    std::vector<Step> steps_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<bool> dataConnectionMade_{false};
    std::atomic<bool> signalled_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> commands_;
    std::string received_;
    std::string error_;
    bool completed_ = false;
};

} // namespace test_support
