// Starts tests/support/tls_test_peer.py: a TLS server on 127.0.0.1 at a port the system
// chooses, or one that plays a fault (see the script for the modes), and reads the report
// lines it prints for each connection.
#pragma once

#include "tests/support/helper_program.h"

#include <cstdint>
#include <memory>
#include <string>

namespace test_support {

struct TlsPeerConfig {
    std::string mode = "serve";
    std::string cert; // PEM files of the peer's certificate and key
    std::string key;
    std::string maxVersion; // "1.2", "1.3" or empty for the highest
    std::string greeting;   // sent in one record after the handshake; "\r\n" escapes allowed
    bool echo = false;      // send back what arrives
    // OpenSSL's cipher string for TLS 1.2 and below, e.g. "AES128-SHA"; "@SECLEVEL=0" in it
    // lets the peer load a weak certificate. Empty: Python's default.
    std::string ciphers;
};

class TlsTestPeer {
public:
    // Throws std::runtime_error when the peer does not come up.
    explicit TlsTestPeer(const TlsPeerConfig& config);
    ~TlsTestPeer();
    TlsTestPeer(const TlsTestPeer&) = delete;
    TlsTestPeer& operator=(const TlsTestPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    // The next report line without its line end; empty when none comes within a bounded time.
    std::string NextReport();

private:
    std::unique_ptr<HelperProgram> peer_;
    std::uint16_t port_ = 0;
};

} // namespace test_support
