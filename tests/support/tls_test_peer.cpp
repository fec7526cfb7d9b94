#include "tests/support/tls_test_peer.h"

#include "tests/support/helper_process.h"

#include <QProcess>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kReportLimitMs = 20000;
constexpr int kStopLimitMs = 5000;

std::filesystem::path ScriptPath() {
    return std::filesystem::path(__FILE__).parent_path() / "tls_test_peer.py";
}

} // namespace

TlsTestPeer::TlsTestPeer(const TlsPeerConfig& config) : peer_(std::make_unique<QProcess>()) {
    InheritOnlyStandardStreams(*peer_);
    // The peer's own complaints go where the test's own output does.
    peer_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args = {QString::fromStdString(ScriptPath().string()),
                        QStringLiteral("--mode"),
                        QString::fromStdString(config.mode),
                        QStringLiteral("--cert"),
                        QString::fromStdString(config.cert),
                        QStringLiteral("--key"),
                        QString::fromStdString(config.key)};
    if (!config.maxVersion.empty())
        args << QStringLiteral("--max-version") << QString::fromStdString(config.maxVersion);
    if (!config.ciphers.empty())
        args << QStringLiteral("--ciphers") << QString::fromStdString(config.ciphers);
    if (!config.greeting.empty())
        args << QStringLiteral("--greeting") << QString::fromStdString(config.greeting);
    if (config.echo)
        args << QStringLiteral("--echo");
    peer_->start(QStringLiteral(APPLY_UPDATE_PYTHON), args);
    if (!peer_->waitForStarted(kReportLimitMs)) {
        Stop();
        throw std::runtime_error(std::string("cannot start ") + APPLY_UPDATE_PYTHON);
    }
    const std::string first = NextReport();
    if (first.rfind("PORT ", 0) == 0)
        port_ = static_cast<std::uint16_t>(std::atoi(first.c_str() + 5));
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("the TLS test peer did not start: " + first);
    }
}

TlsTestPeer::~TlsTestPeer() {
    Stop();
}

std::string TlsTestPeer::NextReport() {
    while (!peer_->canReadLine())
        if (!peer_->waitForReadyRead(kReportLimitMs))
            return {};
    QByteArray line = peer_->readLine();
    line.chop(1); // the line end
    return line.toStdString();
}

void TlsTestPeer::Stop() {
    if (peer_->state() == QProcess::NotRunning)
        return;
    peer_->closeWriteChannel(); // the peer ends when its input closes
    peer_->terminate();
    if (!peer_->waitForFinished(kStopLimitMs)) {
        peer_->kill();
        peer_->waitForFinished(kStopLimitMs);
    }
}

} // namespace test_support
