// A throw-away vsftpd on 127.0.0.1 that insists on FTP over TLS the way careful sites set it
// up: log-on and data only over TLS, every data connection resuming the control
// connection's TLS session, and an upload's data ending with a close-notify. One local user
// logs on with a password; the user and its log-on rules exist only inside a private mount
// namespace of the server, so nothing of the machine's own accounts changes. Needs root (as
// vsftpd does for local log-ons); Available() says whether this machine can run it.
#pragma once

#include "tests/support/real_ftp_server.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

struct VsftpdTlsConfig {
    std::string cert; // PEM files of the server's certificate and key
    std::string key;
    bool implicit = false;      // TLS from the first byte instead of AUTH TLS
    std::string highestVersion; // "1.2", "1.3" or empty for the highest both sides know
};

class VsftpdTlsServer {
public:
    // Empty when the server can run here, else why not (for a test to skip with).
    static std::string Unavailable();

    // Throws std::runtime_error when it does not come up.
    explicit VsftpdTlsServer(const VsftpdTlsConfig& config);
    ~VsftpdTlsServer();
    VsftpdTlsServer(const VsftpdTlsServer&) = delete;
    VsftpdTlsServer& operator=(const VsftpdTlsServer&) = delete;

    std::uint16_t Port() const { return port_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    // Where the user lands on log-on; "STOR name" writes Home() / name.
    std::filesystem::path Home() const { return folder_.Path() / "home"; }
    // Every command received, in order, as vsftpd logs them ("PASS <password>" masked).
    std::vector<std::string> Commands() const;
    // vsftpd's whole log: commands, replies, uploads and their outcome.
    std::string Log() const;

private:
    TemporaryDirectory folder_;
    std::string user_ = "tlsuser";
    std::string password_ = "Tls-Secret1";
    std::unique_ptr<HelperProgram> server_;
    std::uint16_t port_ = 0;
};

} // namespace test_support
