#include "tests/support/vsftpd_tls_server.h"

#include "bench/ftp/server_process.h"
#include "tests/support/helper_program.h"
#include "tests/support/loopback_socket.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test_support {

namespace {

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr const char* kUnshare = "/usr/bin/unshare";
constexpr const char* kOpenssl = "/usr/bin/openssl";
// The user's numbers exist only in the server's own account files.
constexpr int kUserId = 60999;
// vsftpd listens within moments; it is looked for every kStartPollMs.
constexpr int kStartLimitMs = 2000;
constexpr int kStartPollMs = 10;
// Far beyond what a short command takes; only a fault gets near it.
constexpr int kRunLimitMs = 60000;

// Runs inside the server's private mount namespace: its account and log-on files stand in
// for the machine's, then vsftpd takes over the process.
constexpr const char* kStartScript = R"(set -e
mount --bind "$1" /etc/passwd
mount --bind "$2" /etc/shadow
mount --bind "$3" /etc/pam.d/vsftpd
if [ -n "$5" ]; then export OPENSSL_CONF="$5"; fi
exec /usr/sbin/vsftpd "$4"
)";

// The standard output of a short command, without its line end.
std::string OutputOf(const std::string& program, const std::vector<std::string>& args) {
    HelperOptions options;
    options.closedInput = true;
    HelperProgram command(program, args, options);
    int exitCode = -1;
    if (!command.WaitForExit(kRunLimitMs, &exitCode) || exitCode != 0)
        throw std::runtime_error("failed: " + program);
    std::string text = command.ReadRest();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool Accepts(std::uint16_t port) {
    const int fd = ConnectTo("127.0.0.1", port);
    if (fd < 0)
        return false;
    CloseSocket(fd);
    return true;
}

void Write(const std::filesystem::path& file, const std::string& text,
           std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write) {
    std::ofstream(file, std::ios::trunc) << text;
    std::filesystem::permissions(file, mode);
}

} // namespace

std::string VsftpdTlsServer::Unavailable() {
    if (::geteuid() != 0)
        return "vsftpd's local log-on needs root";
    for (const char* program : {kVsftpd, kUnshare, kOpenssl})
        if (::access(program, X_OK) != 0)
            return std::string(program) + " is missing";
    return {};
}

VsftpdTlsServer::VsftpdTlsServer(const VsftpdTlsConfig& config) {
    const std::string why = Unavailable();
    if (!why.empty())
        throw std::runtime_error(why);
    namespace fs = std::filesystem;
    const fs::path& folder = folder_.Path();
    using fs::perms;
    const perms open = perms::owner_all | perms::group_read | perms::group_exec |
                       perms::others_read | perms::others_exec;
    // The user passes through the folder to its home; nothing in it is the user's but home.
    fs::permissions(folder, open);
    fs::create_directories(folder / "empty");
    fs::create_directories(Home());
    if (::chown(Home().c_str(), kUserId, kUserId) != 0)
        throw std::runtime_error("cannot hand the home folder to the test user");
    fs::copy_file(config.cert, folder / "server.pem");
    fs::copy_file(config.key, folder / "server.key");
    fs::permissions(folder / "server.key", perms::owner_read | perms::owner_write);

    const std::string uid = std::to_string(kUserId);
    Write(folder / "passwd",
          "root:x:0:0:root:/root:/bin/sh\n"
          "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n" +
              user_ + ":x:" + uid + ":" + uid + "::" + Home().string() + ":/bin/sh\n",
          open & ~(perms::owner_exec | perms::group_exec | perms::others_exec));
    const std::string hash = OutputOf(kOpenssl, {"passwd", "-6", password_});
    Write(folder / "shadow", user_ + ":" + hash + ":19000:0:99999:7:::\n");
    Write(folder / "pam",
          "auth required pam_unix.so\n"
          "account required pam_permit.so\n"
          "session required pam_permit.so\n",
          perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
    std::string opensslConfig;
    if (!config.highestVersion.empty()) {
        // vsftpd has no option for it; OpenSSL's own configuration caps what it offers.
        opensslConfig = (folder / "openssl.cnf").string();
        Write(opensslConfig,
              "openssl_conf = openssl_init\n[openssl_init]\nssl_conf = ssl_section\n"
              "[ssl_section]\nsystem_default = system_default_section\n"
              "[system_default_section]\nMaxProtocol = TLSv" +
                  config.highestVersion + "\n",
              perms::owner_read | perms::owner_write);
    }

    port_ = bench::FreeLoopbackPort();
    const fs::path conf = folder / "vsftpd.conf";
    std::ostringstream text;
    text << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
         << "\nbackground=NO\n"
         << "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
         << "pam_service_name=vsftpd\nsecure_chroot_dir=" << (folder / "empty").string() << "\n"
         << "seccomp_sandbox=NO\nisolate_network=NO\nisolate=NO\n"
         << "connect_from_port_20=NO\nport_enable=YES\npasv_enable=YES\n"
         << "ssl_enable=YES\nrsa_cert_file=" << (folder / "server.pem").string() << "\n"
         << "rsa_private_key_file=" << (folder / "server.key").string() << "\n"
         << "allow_anon_ssl=NO\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
         << "require_ssl_reuse=YES\nstrict_ssl_read_eof=YES\n"
         << "implicit_ssl=" << (config.implicit ? "YES" : "NO") << "\n"
         << "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
         << "vsftpd_log_file=" << (folder / "vsftpd.log").string() << "\n"
         << "dirmessage_enable=NO\n";
    Write(conf, text.str());
    HelperOptions options;
    options.forwardOutput = true;
    options.closedInput = true;
    server_ = std::make_unique<HelperProgram>(
        kUnshare,
        std::vector<std::string>{"--mount", "--propagation", "private", "/bin/sh", "-c",
                                 kStartScript, "sh", (folder / "passwd").string(),
                                 (folder / "shadow").string(), (folder / "pam").string(),
                                 conf.string(), opensslConfig},
        options);
    // Between looks the wait is for the server's end, so one that gives up is seen at once.
    for (int waited = 0; !Accepts(port_) && waited < kStartLimitMs; waited += kStartPollMs)
        if (server_->WaitForExit(kStartPollMs))
            break;
    if (!Accepts(port_))
        throw std::runtime_error(std::string(kUnshare) + " did not come up on port " +
                                 std::to_string(port_));
}

VsftpdTlsServer::~VsftpdTlsServer() = default;

std::string VsftpdTlsServer::Log() const {
    std::ifstream in(folder_.Path() / "vsftpd.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> VsftpdTlsServer::Commands() const {
    // ... FTP command: Client "127.0.0.1", "USER tlsuser"
    const std::string marker = "FTP command: Client \"";
    std::vector<std::string> commands;
    std::istringstream lines(Log());
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(marker);
        const auto start = at == std::string::npos ? at : line.find("\", \"", at + marker.size());
        if (start == std::string::npos || line.back() != '"')
            continue;
        commands.push_back(line.substr(start + 4, line.size() - start - 5));
    }
    return commands;
}

} // namespace test_support
