#include "bench/common/process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace bench {

namespace {

bool Accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

pid_t StartProcess(const std::vector<std::string>& argv, const StartOptions& options) {
    if (argv.empty())
        throw std::runtime_error("no program to start");
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const struct {
        int from;
        int stream;
    } streams[] = {{options.input, 0}, {options.output, 1}, {options.errors, 2}};
    for (const auto& [from, stream] : streams) {
        if (from == kNullDevice)
            posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                             stream == 0 ? O_RDONLY : O_WRONLY, 0);
        else if (from >= 0)
            posix_spawn_file_actions_adddup2(&actions, from, stream);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.newSession)
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int error =
        options.searchPath
            ? ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ)
            : ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::system_error(error, std::generic_category(), "cannot start " + argv[0]);
    return pid;
}

pid_t StartServer(const std::vector<std::string>& argv, std::uint16_t port) {
    const pid_t pid = StartProcess(argv);
    for (int attempt = 0; attempt < 200 && !Accepts(port); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Accepts(port)) {
        StopProcess(pid);
        throw std::runtime_error(argv[0] + " did not come up on port " + std::to_string(port));
    }
    return pid;
}

int WaitProcess(pid_t pid, rusage* usage) {
    int status = 0;
    pid_t ended;
    while ((ended = ::wait4(pid, &status, 0, usage)) < 0 && errno == EINTR) {
    }
    return ended == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int StopProcess(pid_t pid, std::chrono::milliseconds bound) {
    if (pid <= 0)
        return -1;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    bool child = true;
    for (;;) {
        int status = 0;
        if (child) {
            const pid_t ended = ::waitpid(pid, &status, WNOHANG);
            if (ended == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            child = !(ended < 0 && errno == ECHILD);
        }
        if (!child && ::kill(pid, 0) != 0)
            return -1; // gone
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(pid, SIGKILL);
    return child ? WaitProcess(pid) : -1;
}

std::string ReadToEnd(int fd) {
    std::string text;
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n > 0)
            text.append(block, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    return text;
}

} // namespace bench
