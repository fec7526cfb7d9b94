#include "tests/support/real_ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace test_support {

namespace {

// The script lives beside this file in the source tree.
std::filesystem::path ScriptPath() {
    return std::filesystem::path(__FILE__).parent_path() / "real_ftp_server.py";
}

std::filesystem::path MakeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "apply-update-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    return pattern;
}

// Reads the "PORT <n>" line the server prints once it listens; 0 when it never comes.
std::uint16_t ReadAnnouncedPort(int fd) {
    std::string text;
    for (;;) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 20000) <= 0)
            return 0;
        char block[256];
        const auto n = ::read(fd, block, sizeof block);
        if (n <= 0)
            return 0;
        text.append(block, static_cast<std::size_t>(n));
        const auto lf = text.find('\n');
        if (lf != std::string::npos) {
            if (text.rfind("PORT ", 0) != 0)
                return 0;
            return static_cast<std::uint16_t>(std::atoi(text.c_str() + 5));
        }
    }
}

} // namespace

TemporaryDirectory::TemporaryDirectory() : path_(MakeTemporaryDirectory()) {}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

RealFtpServer::RealFtpServer(std::string user, std::string password, std::string address)
    : user_(std::move(user)), password_(std::move(password)), address_(std::move(address)),
      home_(MakeTemporaryDirectory()) {
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string python = APPLY_UPDATE_PYTHON;
    const std::string script = ScriptPath().string();
    const std::string home = home_.string();
    std::vector<char*> argv = {const_cast<char*>(python.c_str()),
                               const_cast<char*>(script.c_str()),
                               const_cast<char*>(home.c_str()),
                               user_.data(),
                               password_.data(),
                               address_.data(),
                               nullptr};
    const int spawned =
        ::posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdinPipe_ = in[1];
    if (spawned != 0) {
        pid_ = -1;
        ::close(out[0]);
        Stop();
        throw std::runtime_error("cannot start " + python);
    }
    port_ = ReadAnnouncedPort(out[0]);
    ::close(out[0]);
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("the FTP server did not start (pyftpdlib missing?)");
    }
}

RealFtpServer::~RealFtpServer() {
    Stop();
}

void RealFtpServer::Stop() {
    if (stdinPipe_ >= 0)
        ::close(stdinPipe_); // the server ends when its input closes
    stdinPipe_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
}

} // namespace test_support
