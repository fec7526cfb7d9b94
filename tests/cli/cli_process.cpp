#include "tests/cli/cli_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace cli_test {
namespace {

// Far beyond any run of these tests; only a fault gets near it.
constexpr int kRunLimitMs = 60000;

// Sanitizer settings pass through, so a sanitized program reports as the tests do.
constexpr const char* kPassedThrough[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() {
        if (read >= 0)
            ::close(read);
        read = -1;
    }
    void CloseWrite() {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
};

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
    std::vector<std::string> strings = {APPLY_UPDATE_CLI};
    strings.insert(strings.end(), call.arguments.begin(), call.arguments.end());
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    for (const char* name : kPassedThrough)
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    for (const auto& [name, value] : call.environment)
        environment.push_back(name + "=" + value);
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& s : environment)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    Pipe in, out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, 1);
    posix_spawn_file_actions_adddup2(&actions, err.write, 2);
    if (!call.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, call.workingDirectory.c_str());
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + strings[0]);
    in.CloseRead();
    out.CloseWrite();
    err.CloseWrite();
    // A program that ends before it reads its input must not take the test down with it.
    ::signal(SIGPIPE, SIG_IGN);
    if (call.input) // small enough for the pipe's buffer
        [[maybe_unused]]
        auto written = ::write(in.write, call.input->data(), call.input->size());
    in.CloseWrite();

    CliRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunLimitMs);
    while (out.read >= 0 || err.read >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
        if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) == 0) {
            run.hung = true;
            ::kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            char block[4096];
            const auto n = ::read(fds[i].fd, block, sizeof block);
            Pipe& source = i == 0 ? out : err;
            if (n <= 0) {
                source.CloseRead();
                continue;
            }
            (i == 0 ? run.out : run.err).append(block, static_cast<std::size_t>(n));
            if (i == 0 && !run.terminated && call.terminateWhen && call.terminateWhen(run.out)) {
                run.terminated = true;
                ::kill(pid, SIGTERM);
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

} // namespace cli_test
