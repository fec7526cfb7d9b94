// The far end of the reply-reading target: for each input, a fresh listener on 127.0.0.1
// (port chosen by the system) that accepts exactly one connection in a helper thread,
// writes the input's bytes in pieces, ends its sending side and reads whatever the client
// sends until the client closes (bounded), so the client never sees a reset instead of
// data. A listener of its own per input means a connection can never meet the server of
// another input.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

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
    // Waits for the served connection to end.
    void Join();

private:
    static void Run(int listener, const std::string& bytes, std::size_t piece);

    std::thread thread_;
};

} // namespace fuzz
