// The far end of the reply-reading target: a listener on 127.0.0.1 (port chosen by the
// system) that, for each input, accepts one connection in a helper thread, writes the
// input's bytes in pieces, ends its sending side and reads whatever the client sends
// until the client closes (bounded), so the client never sees a reset instead of data.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace fuzz {

class LoopbackPeer {
public:
    LoopbackPeer();
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Serves one connection with `bytes`, written in pieces of `piece` bytes (at least 1).
    void Serve(std::string bytes, std::size_t piece);
    // Waits for the served connection to end.
    void Join();

private:
    void Run(const std::string& bytes, std::size_t piece);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace fuzz
