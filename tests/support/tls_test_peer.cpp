#include "tests/support/tls_test_peer.h"

#include "tests/support/helper_program.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kReportLimitMs = 20000;

std::filesystem::path ScriptPath() {
    return std::filesystem::path(__FILE__).parent_path() / "tls_test_peer.py";
}

} // namespace

TlsTestPeer::TlsTestPeer(const TlsPeerConfig& config) {
    std::vector<std::string> args = {ScriptPath().string(), "--mode", config.mode, "--cert",
                                     config.cert,           "--key",  config.key};
    if (!config.maxVersion.empty())
        args.insert(args.end(), {"--max-version", config.maxVersion});
    if (!config.ciphers.empty())
        args.insert(args.end(), {"--ciphers", config.ciphers});
    if (!config.greeting.empty())
        args.insert(args.end(), {"--greeting", config.greeting});
    if (config.echo)
        args.emplace_back("--echo");
    // The peer's own complaints go where the test's own output does; it ends when its input
    // closes.
    peer_ = std::make_unique<HelperProgram>(APPLY_UPDATE_PYTHON, args);
    const std::string first = NextReport();
    if (first.rfind("PORT ", 0) == 0)
        port_ = static_cast<std::uint16_t>(std::atoi(first.c_str() + 5));
    if (port_ == 0)
        throw std::runtime_error("the TLS test peer did not start: " + first);
}

TlsTestPeer::~TlsTestPeer() = default;

std::string TlsTestPeer::NextReport() {
    return peer_->ReadLine(kReportLimitMs).value_or("");
}

} // namespace test_support
