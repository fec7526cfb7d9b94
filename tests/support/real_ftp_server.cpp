#include "tests/support/real_ftp_server.h"

#include "tests/support/helper_program.h"

#include <cstdlib>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kStartLimitMs = 20000;

// The script lives beside this file in the source tree.
std::filesystem::path ScriptPath() {
    return std::filesystem::path(__FILE__).parent_path() / "real_ftp_server.py";
}

} // namespace

RealFtpServer::RealFtpServer(std::string user, std::string password, std::string address,
                             std::filesystem::path script)
    : user_(std::move(user)), password_(std::move(password)), address_(std::move(address)) {
    // The server's log goes where the test's own does; it ends when its input closes.
    server_ = std::make_unique<HelperProgram>(
        APPLY_UPDATE_PYTHON,
        std::vector<std::string>{(script.empty() ? ScriptPath() : script).string(),
                                 home_.Path().string(), user_, password_, address_});
    // The "PORT <n>" line the server prints once it listens.
    const std::string line = server_->ReadLine(kStartLimitMs).value_or("");
    unsigned long port = 0;
    if (line.rfind("PORT ", 0) == 0)
        port = std::strtoul(line.c_str() + 5, nullptr, 10);
    if (port == 0 || port > 65535)
        throw std::runtime_error("the FTP server did not start (pyftpdlib missing?)");
    port_ = static_cast<std::uint16_t>(port);
}

RealFtpServer::~RealFtpServer() = default;

} // namespace test_support
