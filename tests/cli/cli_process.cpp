#include "tests/cli/cli_process.h"

#include "tests/support/helper_process.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace test_support {
namespace {

// Far beyond any run of these tests; only a fault gets near it.
constexpr int kRunLimitMs = 60000;

// Sanitizer settings pass through, so a sanitized program reports as the tests do.
constexpr const char* kPassedThrough[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

std::vector<std::string> CliRun::LogLines() const {
    std::vector<std::string> lines = SplitLines(out);
    if (!lines.empty() && lines.back().rfind("{\"host\":", 0) == 0)
        lines.pop_back();
    return lines;
}

std::string CliRun::SummaryLine() const {
    const std::vector<std::string> lines = SplitLines(out);
    return lines.empty() ? std::string() : lines.back();
}

CliRun RunCli(const CliCall& call) {
    QProcess program;
    test_support::InheritOnlyStandardStreams(program);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    for (const char* name : kPassedThrough)
        if (const char* value = std::getenv(name))
            environment.insert(QString::fromLatin1(name), QString::fromLocal8Bit(value));
    for (const auto& [name, value] : call.environment)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    program.setProcessEnvironment(environment);
    if (!call.workingDirectory.empty())
        program.setWorkingDirectory(QString::fromStdString(call.workingDirectory));
    QStringList arguments;
    for (const std::string& argument : call.arguments)
        arguments << QString::fromStdString(argument);
    program.start(QStringLiteral(APPLY_UPDATE_CLI), arguments);
    if (!program.waitForStarted(kRunLimitMs))
        throw std::runtime_error(std::string("cannot start ") + APPLY_UPDATE_CLI);
    if (call.input) // small enough for the pipe's buffer
        program.write(call.input->data(), static_cast<qint64>(call.input->size()));
    program.closeWriteChannel();

    CliRun run;
    const QDeadlineTimer deadline(kRunLimitMs);
    const auto take = [&] {
        run.err += program.readAllStandardError().toStdString();
        const QByteArray more = program.readAllStandardOutput();
        if (more.isEmpty())
            return;
        run.out += more.toStdString();
        if (!run.terminated && call.terminateWhen && call.terminateWhen(run.out)) {
            run.terminated = true;
            program.terminate(); // SIGTERM
        }
    };
    while (program.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            run.hung = true;
            program.kill();
            program.waitForFinished(kRunLimitMs);
            break;
        }
        program.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        take();
    }
    take();
    run.exitStatus = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    return run;
}

RefusingPort::RefusingPort() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a port on 127.0.0.1");
    port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
    if (socket_ >= 0)
        ::close(socket_);
}

} // namespace test_support
