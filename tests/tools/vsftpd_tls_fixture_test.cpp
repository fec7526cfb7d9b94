// The vsftpd fixture that later tests upload to over TLS: it takes uploads from independent
// clients (curl, and Python's FTP_TLS actively and passively) in both TLS modes and both TLS
// versions, and it refuses what careful sites refuse: a data connection that does not resume
// the control connection's session, and one that ends without a close-notify.
#include "tests/support/helper_process.h"
#include "tests/support/sha256.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_certificates.h"
#include "tests/support/vsftpd_tls_server.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using test_support::VsftpdTlsConfig;
using test_support::VsftpdTlsServer;

struct Outcome {
    int status = -1;
    std::string output; // standard output and error together
};

// Far beyond an upload of these tests; only a fault gets near it.
constexpr int kRunLimitMs = 120000;
constexpr int kStopLimitMs = 5000;

Outcome RunProgram(const std::vector<std::string>& args) {
    Outcome outcome;
    QProcess program;
    test_support::InheritOnlyStandardStreams(program);
    program.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments;
    for (auto arg = args.begin() + 1; arg != args.end(); ++arg)
        arguments << QString::fromStdString(*arg);
    program.start(QString::fromStdString(args[0]), arguments);
    program.closeWriteChannel();
    const bool finished = program.waitForFinished(kRunLimitMs);
    if (!finished) {
        program.kill();
        program.waitForFinished(kStopLimitMs);
    }
    outcome.output = program.readAll().toStdString();
    if (finished && program.exitStatus() == QProcess::NormalExit)
        outcome.status = program.exitCode();
    return outcome;
}

std::string UploadScript() {
    return (std::filesystem::path(__FILE__).parent_path() / "ftps_upload.py").string();
}

class VsftpdTlsFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (VsftpdTlsServer::Unavailable().empty())
            certificates_ = std::make_unique<test_support::TestCertificates>();
    }
    static void TearDownTestSuite() { certificates_.reset(); }

    void SetUp() override {
        const std::string why = VsftpdTlsServer::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        bytes_.resize((1u << 20) + 3);
        for (std::size_t i = 0; i < bytes_.size(); ++i)
            bytes_[i] = static_cast<char>((i * 7919) ^ (i >> 11));
        test_support::WriteFile(folder_ / "upload.bin", bytes_);
    }

    static VsftpdTlsConfig Config(bool implicit, const std::string& version = "") {
        return {certificates_->Pem("host"), certificates_->Key("host"), implicit, version};
    }

    Outcome PythonUpload(const VsftpdTlsServer& server, bool implicit, const std::string& name,
                         const std::string& fault = "") {
        std::vector<std::string> args = {APPLY_UPDATE_PYTHON,
                                         UploadScript(),
                                         implicit ? "implicit" : "explicit",
                                         std::to_string(server.Port()),
                                         server.User(),
                                         server.Password(),
                                         certificates_->Pem("ca"),
                                         folder_ / "upload.bin",
                                         name};
        if (!fault.empty())
            args.push_back(fault);
        return RunProgram(args);
    }

    std::string Stored(const VsftpdTlsServer& server, const std::string& name) const {
        return test_support::Sha256OfFile(server.Home() / name);
    }

    static inline std::unique_ptr<test_support::TestCertificates> certificates_;
    test_support::TemporaryDirectory folder_;
    std::string bytes_;
};

struct ModeCase {
    bool implicit;
    std::string version;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << (c.implicit ? "implicit" : "explicit") << " TLS " << c.version;
}

class VsftpdTlsModes : public VsftpdTlsFixture, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(VsftpdTlsModes, TakesUploadsFromCurlAndPythonActiveAndPassive) {
    const bool implicit = GetParam().implicit;
    VsftpdTlsServer server(Config(implicit, GetParam().version));
    // With TLS 1.3 vsftpd may send its session ticket on the data connection only after the
    // whole file is queued; Debian 12's curl closes its socket right after its close-notify,
    // so the late ticket meets a closed socket, the system resets the connection and drops
    // what of the file was still queued: its uploads break off at random. It shows the
    // fixture at work with TLS 1.2 only.
    if (GetParam().version == "1.2") {
        const std::string url = std::string(implicit ? "ftps" : "ftp") +
                                "://127.0.0.1:" + std::to_string(server.Port()) + "/curl.bin";
        const Outcome curl = RunProgram(
            {"/usr/bin/curl", "-sS", "--ssl-reqd", "--cacert", certificates_->Pem("ca"), "--user",
             server.User() + ":" + server.Password(), "-T", folder_ / "upload.bin", url});
        EXPECT_EQ(curl.status, 0) << curl.output;
        EXPECT_EQ(Stored(server, "curl.bin"), test_support::Sha256Hex(bytes_));
    }

    const Outcome python = PythonUpload(server, implicit, "python.bin");
    EXPECT_EQ(python.output, "VERSION TLSv" + GetParam().version +
                                 "\n226 Transfer complete.\n226 Transfer complete.\n");
    EXPECT_EQ(Stored(server, "python.bin"), test_support::Sha256Hex(bytes_));

    const std::vector<std::string> commands = server.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front().rfind(implicit ? "USER " : "AUTH ", 0), 0u) << commands.front();
    for (const char* expected : {"PASS <password>", "PBSZ 0", "PROT P", "PORT", "PASV"}) {
        bool seen = false;
        for (const std::string& command : commands)
            seen = seen || command.rfind(expected, 0) == 0;
        EXPECT_TRUE(seen) << expected << " missing from\n" << server.Log();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, VsftpdTlsModes,
                         ::testing::Values(ModeCase{false, "1.2"}, ModeCase{false, "1.3"},
                                           ModeCase{true, "1.2"}, ModeCase{true, "1.3"}));

TEST_F(VsftpdTlsFixture, RefusesDataWithoutSessionReuseOrCloseNotify) {
    VsftpdTlsServer server(Config(false));
    const struct {
        const char* fault;
        const char* reply; // as vsftpd logs it; the client may see the connection end first
    } cases[] = {{"--no-reuse", "\"522 SSL connection failed: session reuse required\""},
                 {"--no-close-notify", "\"426 Failure reading network stream.\""}};
    for (const auto& c : cases) {
        const Outcome python = PythonUpload(server, false, "refused.bin", c.fault);
        EXPECT_EQ(python.status, 1) << c.fault << ": " << python.output;
        EXPECT_NE(server.Log().find(c.reply), std::string::npos) << server.Log();
    }
}

} // namespace
