#include "tests/support/test_certificates.h"

#include "tests/support/helper_process.h"

#include <QProcess>

#include <fstream>
#include <stdexcept>

namespace test_support {

namespace {

// Far beyond what making a handful of certificates takes; only a fault gets near it.
constexpr int kMakeLimitMs = 120000;
constexpr int kStopLimitMs = 5000;

} // namespace

std::filesystem::path MakeTestCertificatesScript() {
    return std::filesystem::path(__FILE__).parent_path() / "make_test_certificates.sh";
}

TestCertificates::TestCertificates() {
    const std::string script = MakeTestCertificatesScript().string();
    QProcess shell;
    InheritOnlyStandardStreams(shell);
    // openssl's messages go where the test's own do.
    shell.setProcessChannelMode(QProcess::ForwardedChannels);
    shell.start(QStringLiteral("/bin/sh"),
                {QString::fromStdString(script), QString::fromStdString(folder_.Path().string())});
    if (!shell.waitForStarted(kMakeLimitMs))
        throw std::runtime_error("cannot start " + script);
    shell.closeWriteChannel();
    const bool finished = shell.waitForFinished(kMakeLimitMs);
    if (!finished) {
        shell.kill();
        shell.waitForFinished(kStopLimitMs);
    }
    if (!finished || shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
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
