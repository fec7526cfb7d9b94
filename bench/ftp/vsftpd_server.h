// A throw-away vsftpd on 127.0.0.1 for the benchmark: anonymous log-on, uploads into
// "in/" of a temporary root, plain or over TLS. Needs root (vsftpd's chroot), as on the
// benchmark machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

// FTP over TLS as careful sites require it: log-on and data only over TLS, every data
// connection resuming the control connection's session, uploads ending with a close-notify.
struct VsftpdTls {
    std::string cert; // PEM files of the server's certificate and key
    std::string key;
};

class VsftpdServer {
public:
    // Plain FTP, or FTP over explicit TLS when `tls` is given.
    explicit VsftpdServer(const std::filesystem::path& workDirectory,
                          const VsftpdTls* tls = nullptr);
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // Where uploads to "in/<name>" land.
    std::filesystem::path Incoming() const { return root_ / "in"; }
    // CPU seconds (user + system) of all the sessions that have ended so far. Waits (bounded)
    // until the last session's processes have been reaped, so that a run's server work can be
    // taken as the difference of two readings around it.
    double SessionsCpuSeconds() const;

private:
    std::filesystem::path root_;
    int pid_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace bench
