#include "tests/support/helper_program.h"

#include "tests/support/helper_process.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <stdexcept>

namespace test_support {

namespace {
constexpr int kStartLimitMs = 20000;
constexpr int kStopLimitMs = 5000;
} // namespace

class HelperProgram::Impl {
public:
    QProcess process;
};

HelperProgram::HelperProgram(const std::string& program, const std::vector<std::string>& arguments,
                             const HelperOptions& options)
    : impl_(std::make_unique<Impl>()) {
    QProcess& process = impl_->process;
    InheritOnlyStandardStreams(process);
    if (options.forwardOutput && options.errorFile.empty())
        process.setProcessChannelMode(QProcess::ForwardedChannels);
    else if (options.forwardOutput)
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    else if (options.errorFile.empty())
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!options.errorFile.empty())
        process.setStandardErrorFile(QString::fromStdString(options.errorFile.string()));
    if (options.closedInput)
        process.setStandardInputFile(QProcess::nullDevice());
    QStringList list;
    for (const std::string& argument : arguments)
        list << QString::fromStdString(argument);
    process.start(QString::fromStdString(program), list);
    if (!process.waitForStarted(kStartLimitMs))
        throw std::runtime_error("cannot start " + program);
}

HelperProgram::~HelperProgram() {
    Stop();
}

std::optional<std::string> HelperProgram::ReadLine(int limitMs) {
    QProcess& process = impl_->process;
    const QDeadlineTimer limit(limitMs);
    while (!process.canReadLine())
        if (!process.waitForReadyRead(static_cast<int>(limit.remainingTime())))
            return std::nullopt;
    QByteArray line = process.readLine();
    if (line.endsWith('\n'))
        line.chop(1);
    return line.toStdString();
}

bool HelperProgram::WaitForExit(int limitMs, int* exitCode) {
    QProcess& process = impl_->process;
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(limitMs))
        return false;
    if (exitCode != nullptr)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

std::string HelperProgram::ReadRest() {
    return impl_->process.readAllStandardOutput().toStdString();
}

void HelperProgram::Stop() {
    QProcess& process = impl_->process;
    if (process.state() == QProcess::NotRunning)
        return;
    process.closeWriteChannel();
    process.terminate();
    if (!process.waitForFinished(kStopLimitMs)) {
        process.kill();
        process.waitForFinished(kStopLimitMs);
    }
}

} // namespace test_support
