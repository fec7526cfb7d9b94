// The far end of the reply-reading target: for each input, a fresh listener on 127.0.0.1
// (port chosen by the system) that accepts exactly one connection in a helper thread,
// writes the input's bytes in pieces, ends its sending side and reads whatever the client
// sends until the client closes (bounded), so the client never sees a reset instead of
// data. A listener of its own per input means a connection can never meet the server of
// another input.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fuzz {

class LoopbackPeer {
public:
    LoopbackPeer() = default;
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // Serves one connection with `bytes`, written in pieces of `piece` bytes (at least 1);
    // returns the port to connect to.
    std::uint16_t Serve(std::string bytes, std::size_t piece);
    // Serves one connection as a conversation: the first reply at once (the greeting),
    // then one reply for each command line read, in order; then as Serve. Returns the port.
    std::uint16_t ServeReplies(std::vector<std::string> replies);
    // Which reply answered the command line (without its line end); nothing when none did.
    std::optional<std::size_t> AnswerTo(const std::string& command) const;
    // Waits for the served connection to end.
    void Join();

private:
    static int Listen(std::uint16_t& port);
    static int AcceptOne(int listener);
    static void SendAll(int fd, const std::string& bytes, std::size_t piece);
    static void EndAndDrain(int fd);
    static void Run(int listener, const std::string& bytes, std::size_t piece);
    void Converse(int listener, const std::vector<std::string>& replies);

    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<std::string, std::size_t> answers_;
};

} // namespace fuzz
