// The benchmark's fast FTP server: Debian's pyftpdlib on 127.0.0.1, set up to read the data
// connection in 4 MiB blocks and to drop what an upload brings (discarding_ftp_server.py).
#pragma once

#include <cstdint>
#include <filesystem>

namespace bench {

class DiscardingServer {
public:
    explicit DiscardingServer(const std::filesystem::path& home);
    ~DiscardingServer();
    DiscardingServer(const DiscardingServer&) = delete;
    DiscardingServer& operator=(const DiscardingServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // CPU seconds (user + system) the server has used so far.
    double CpuSeconds() const;

private:
    int pid_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace bench
