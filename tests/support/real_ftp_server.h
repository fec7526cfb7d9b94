// Starts the real pyftpdlib server (tests/support/real_ftp_server.py) on 127.0.0.1 (or the
// given loopback address, e.g. "::1") at a port the system chooses, with a fresh temporary
// home directory, and stops it again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace test_support {

class RealFtpServer {
public:
    // Throws std::runtime_error when the server does not come up.
    explicit RealFtpServer(std::string user = "tester", std::string password = "s3cret",
                           std::string address = "127.0.0.1");
    ~RealFtpServer();
    RealFtpServer(const RealFtpServer&) = delete;
    RealFtpServer& operator=(const RealFtpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    const std::string& Address() const { return address_; }
    const std::filesystem::path& Home() const { return home_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }

private:
    void Stop();

    std::string user_;
    std::string password_;
    std::string address_;
    std::filesystem::path home_;
    pid_t pid_ = -1;
    int stdinPipe_ = -1;
    std::uint16_t port_ = 0;
};

// A fresh temporary directory, removed by the destructor.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace test_support
