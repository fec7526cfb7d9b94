// Certificates for the TLS tests, made afresh in a temporary folder by
// tests/support/make_test_certificates.sh (openssl), and removed with it. Names: "ca", "host"
// (for 127.0.0.1, ::1 and localhost, signed by "ca"), "self-signed", "expired",
// "not-yet-valid", "other-name" (for another host); and three that the installer refuses
// outright: "weak-key" (self-signed, RSA 1024), "sha1-signed", "client-only" (for clients).
#pragma once

#include "tests/support/real_ftp_server.h"

#include <filesystem>
#include <string>

namespace test_support {

class TestCertificates {
public:
    // Throws std::runtime_error when openssl fails.
    TestCertificates();

    std::string Pem(const std::string& name) const;
    std::string Key(const std::string& name) const;
    // "AA:BB:..." as openssl itself prints it.
    std::string Fingerprint(const std::string& name) const;
    const std::filesystem::path& Folder() const { return folder_.Path(); }

private:
    TemporaryDirectory folder_;
};

// The script, for processes that make their own certificates.
std::filesystem::path MakeTestCertificatesScript();

} // namespace test_support
