#include "tests/support/real_ftp_server.h"

#include "tests/support/helper_process.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <stdexcept>

namespace test_support {

namespace {

constexpr int kStartLimitMs = 20000;
constexpr int kStopLimitMs = 5000;

// The script lives beside this file in the source tree.
std::filesystem::path ScriptPath() {
    return std::filesystem::path(__FILE__).parent_path() / "real_ftp_server.py";
}

// Reads the "PORT <n>" line the server prints once it listens; 0 when it never comes.
std::uint16_t ReadAnnouncedPort(QProcess& server) {
    const QDeadlineTimer limit(kStartLimitMs);
    while (!server.canReadLine())
        if (!server.waitForReadyRead(static_cast<int>(limit.remainingTime())))
            return 0;
    const QByteArray line = server.readLine().trimmed();
    if (!line.startsWith("PORT "))
        return 0;
    bool ok = false;
    const unsigned port = line.mid(5).toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

} // namespace

RealFtpServer::RealFtpServer(std::string user, std::string password, std::string address,
                             std::filesystem::path script)
    : user_(std::move(user)), password_(std::move(password)), address_(std::move(address)),
      server_(std::make_unique<QProcess>()) {
    InheritOnlyStandardStreams(*server_);
    // The server's log goes where the test's own does.
    server_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString python = QString::fromStdString(APPLY_UPDATE_PYTHON);
    server_->start(python,
                   {QString::fromStdString((script.empty() ? ScriptPath() : script).string()),
                    QString::fromStdString(home_.Path().string()), QString::fromStdString(user_),
                    QString::fromStdString(password_), QString::fromStdString(address_)});
    if (!server_->waitForStarted(kStartLimitMs))
        throw std::runtime_error("cannot start " + python.toStdString());
    port_ = ReadAnnouncedPort(*server_);
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("the FTP server did not start (pyftpdlib missing?)");
    }
}

RealFtpServer::~RealFtpServer() {
    Stop();
}

void RealFtpServer::Stop() {
    if (server_->state() == QProcess::NotRunning)
        return;
    server_->closeWriteChannel(); // the server ends when its input closes
    server_->terminate();
    if (!server_->waitForFinished(kStopLimitMs)) {
        server_->kill();
        server_->waitForFinished(kStopLimitMs);
    }
}

} // namespace test_support
