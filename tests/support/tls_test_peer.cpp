#include "tests/support/tls_test_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace test_support {

namespace {

constexpr int kReportLimitMs = 20000;

std::filesystem::path ScriptPath() {
    return std::filesystem::path(__FILE__).parent_path() / "tls_test_peer.py";
}

} // namespace

TlsTestPeer::TlsTestPeer(const TlsPeerConfig& config) {
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> args = {APPLY_UPDATE_PYTHON,
                                     ScriptPath().string(),
                                     "--mode",
                                     config.mode,
                                     "--cert",
                                     config.cert,
                                     "--key",
                                     config.key};
    if (!config.maxVersion.empty())
        args.insert(args.end(), {"--max-version", config.maxVersion});
    if (!config.greeting.empty())
        args.insert(args.end(), {"--greeting", config.greeting});
    if (config.echo)
        args.push_back("--echo");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdinPipe_ = in[1];
    stdoutPipe_ = out[0];
    if (spawned != 0) {
        pid_ = -1;
        Stop();
        throw std::runtime_error("cannot start " + args[0]);
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
    for (;;) {
        const auto lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            return line;
        }
        pollfd in{stdoutPipe_, POLLIN, 0};
        if (::poll(&in, 1, kReportLimitMs) <= 0)
            return {};
        char block[512];
        const auto n = ::read(stdoutPipe_, block, sizeof block);
        if (n <= 0)
            return {};
        pending_.append(block, static_cast<std::size_t>(n));
    }
}

void TlsTestPeer::Stop() {
    if (stdinPipe_ >= 0)
        ::close(stdinPipe_);
    stdinPipe_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (stdoutPipe_ >= 0)
        ::close(stdoutPipe_);
    stdoutPipe_ = -1;
}

} // namespace test_support
