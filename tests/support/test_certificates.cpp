#include "tests/support/test_certificates.h"

#include "tests/support/helper_program.h"

#include <fstream>
#include <stdexcept>

namespace test_support {

namespace {

// Far beyond what making a handful of certificates takes; only a fault gets near it.
constexpr int kMakeLimitMs = 120000;

} // namespace

std::filesystem::path MakeTestCertificatesScript() {
    return std::filesystem::path(__FILE__).parent_path() / "make_test_certificates.sh";
}

TestCertificates::TestCertificates() {
    const std::string script = MakeTestCertificatesScript().string();
    // openssl's messages go where the test's own do.
    HelperOptions options;
    options.forwardOutput = true;
    options.closedInput = true;
    HelperProgram shell("/bin/sh", {script, folder_.Path().string()}, options);
    int exitCode = -1;
    if (!shell.WaitForExit(kMakeLimitMs, &exitCode) || exitCode != 0)
        throw std::runtime_error("making the test certificates failed (openssl missing?)");
}

std::string TestCertificates::Pem(const std::string& name) const {
    return (folder_.Path() / (name + ".pem")).string();
}

std::string TestCertificates::Key(const std::string& name) const {
    return (folder_.Path() / (name + ".key")).string();
}

std::string TestCertificates::Fingerprint(const std::string& name) const {
    std::ifstream in(folder_.Path() / (name + ".sha256"));
    std::string text;
    std::getline(in, text);
    return text;
}

} // namespace test_support
