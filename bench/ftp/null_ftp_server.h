// A minimal FTP server that accepts every log-on and drops the data it receives: against
// it the client's own ceiling shows, without the cost of a real server writing the file.
// One session at a time, in a thread of its own, on 127.0.0.1 at a port the system chooses.
#pragma once

#include <cstdint>
#include <thread>

namespace bench {

class NullFtpServer {
public:
    NullFtpServer();
    ~NullFtpServer();
    NullFtpServer(const NullFtpServer&) = delete;
    NullFtpServer& operator=(const NullFtpServer&) = delete;

    std::uint16_t Port() const { return port_; }

private:
    void Serve(int control);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace bench
