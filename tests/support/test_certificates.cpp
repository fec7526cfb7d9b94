#include "tests/support/test_certificates.h"

#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace test_support {

std::filesystem::path MakeTestCertificatesScript() {
    return std::filesystem::path(__FILE__).parent_path() / "make_test_certificates.sh";
}

TestCertificates::TestCertificates() {
    const std::string shell = "/bin/sh";
    const std::string script = MakeTestCertificatesScript().string();
    const std::string folder = folder_.Path().string();
    std::vector<char*> argv = {const_cast<char*>(shell.c_str()), const_cast<char*>(script.c_str()),
                               const_cast<char*>(folder.c_str()), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, shell.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + script);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("making the test certificates failed (openssl missing?)");
}

std::string TestCertificates::Pem(const std::string& name) const {
    return (folder_.Path() / (name + ".pem")).string();
}

std::string TestCertificates::Key(const std::string& name) const {
    return (folder_.Path() / (name + ".key")).string();
}

std::string TestCertificates::Fingerprint(const std::string& name) const {
    std::ifstream in(folder_.Path() / (name + ".sha256"));
    std::string text;
    std::getline(in, text);
    return text;
}

} // namespace test_support
