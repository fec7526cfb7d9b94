#include "vsftpd_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace bench {

std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

namespace {

bool Accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

VsftpdServer::VsftpdServer(const std::filesystem::path& workDirectory)
    : root_(workDirectory / "root"), port_(FreeLoopbackPort()) {
    const passwd* ftpUser = ::getpwnam("ftp");
    if (ftpUser == nullptr)
        throw std::runtime_error("vsftpd needs the system user 'ftp'");
    std::filesystem::create_directories(root_ / "in");
    std::filesystem::create_directories(workDirectory / "empty");
    // vsftpd refuses a chroot root that the anonymous user could write to.
    std::filesystem::permissions(
        root_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
    if (::chown((root_ / "in").c_str(), ftpUser->pw_uid, ftpUser->pw_gid) != 0)
        throw std::runtime_error("cannot hand the upload directory to 'ftp'");
    const auto config = workDirectory / "vsftpd.conf";
    std::ofstream(config)
        << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
        << "listen_port=" << port_ << "\nbackground=NO\n"
        << "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
        << "anon_upload_enable=YES\nanon_root=" << root_.string() << "\n"
        << "anon_umask=022\nanon_other_write_enable=YES\nconnect_from_port_20=NO\nport_enable=YES\n"
        << "pasv_enable=YES\nseccomp_sandbox=NO\nsecure_chroot_dir="
        << (workDirectory / "empty").string() << "\n"
        << "xferlog_enable=NO\ndirmessage_enable=NO\nisolate_network=NO\n"
        << "isolate=NO\n"
        // One process per session instead of a privileged helper beside the one that moves
        // the data: vsftpd's faster model, and the session's CPU time then reaches the
        // listener when it reaps the session (SessionsCpuSeconds).
        << "one_process_model=YES\n";
    const std::string program = APPLY_UPDATE_VSFTPD;
    const std::string configText = config.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(configText.c_str()),
                    nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start " + program);
    pid_ = pid;
    for (int attempt = 0; attempt < 200 && !Accepts(port_); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Accepts(port_))
        throw std::runtime_error("vsftpd did not come up on port " + std::to_string(port_));
}

double VsftpdServer::SessionsCpuSeconds() const {
    const std::string self = "/proc/" + std::to_string(pid_);
    // A session is a process (with a helper of its own) under the listener; its time is
    // added to the listener's children time once the listener has reaped it.
    for (int waited = 0; waited < 2000; waited += 5) {
        std::ifstream children(self + "/task/" + std::to_string(pid_) + "/children");
        std::string any;
        if (!(children >> any))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::ifstream stat(self + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command's closing parenthesis: state is the 3rd field of the line,
    // cutime the 16th and cstime the 17th.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field;
    double ticks = 0;
    for (int index = 3; index <= 17 && fields >> field; ++index)
        if (index >= 16)
            ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

VsftpdServer::~VsftpdServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

} // namespace bench
