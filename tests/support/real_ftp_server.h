// Starts the real pyftpdlib server (tests/support/real_ftp_server.py) on 127.0.0.1 (or the
// given loopback address, e.g. "::1") at a port the system chooses, with a fresh temporary
// home directory, and stops it again.
#pragma once

#include "tests/support/helper_program.h"
#include "tests/support/temporary_directory.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace test_support {

class RealFtpServer {
public:
    // Throws std::runtime_error when the server does not come up.
    // `script` is another server with the same arguments (HOME USER PASSWORD ADDRESS) and
    // the same "PORT <n>" line, for tests that need a server of their own making.
    explicit RealFtpServer(std::string user = "tester", std::string password = "s3cret",
                           std::string address = "127.0.0.1", std::filesystem::path script = {});
    ~RealFtpServer();
    RealFtpServer(const RealFtpServer&) = delete;
    RealFtpServer& operator=(const RealFtpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    const std::string& Address() const { return address_; }
    const std::filesystem::path& Home() const { return home_.Path(); }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }

private:
    std::string user_;
    std::string password_;
    std::string address_;
    TemporaryDirectory home_;
    std::unique_ptr<HelperProgram> server_;
    std::uint16_t port_ = 0;
};

} // namespace test_support
