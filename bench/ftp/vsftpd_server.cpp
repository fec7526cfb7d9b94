#include "vsftpd_server.h"

#include "server_process.h"

#include "bench/common/process.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace bench {

VsftpdServer::VsftpdServer(const std::filesystem::path& workDirectory, const VsftpdTls* tls)
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
    std::ofstream out(config);
    if (tls != nullptr)
        out << "ssl_enable=YES\nrsa_cert_file=" << tls->cert
            << "\nrsa_private_key_file=" << tls->key << "\n"
            << "allow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
            << "require_ssl_reuse=YES\nstrict_ssl_read_eof=YES\n";
    out << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
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
    out.close();
    pid_ = StartServer({APPLY_UPDATE_VSFTPD, config.string()}, port_);
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
    return ProcessCpuSeconds(pid_, true);
}

VsftpdServer::~VsftpdServer() {
    StopProcess(pid_);
}

} // namespace bench
