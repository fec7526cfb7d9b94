// A save file beyond 4 GiB, active and passive: every byte reaches the server, the byte
// counts and the progress stay right past the 32-bit range. The file is sparse and the
// server only counts what arrives and hashes its last MiB, so no test needs 5 GiB of disk.
#include "tests/installer/apply_fixture.h"
#include "tests/support/hang_guard.h"
#include "tests/support/sha256.h"

#include "installer/upload_progress_reporter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace apply_test {
namespace {

constexpr std::int64_t kFileSize = std::int64_t{5} << 30;
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// tests/installer/counting_ftp_server.py on 127.0.0.1, serving a temporary folder.
class CountingServer {
public:
    CountingServer() {
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::string python = APPLY_UPDATE_PYTHON, script = COUNTING_FTP_SERVER,
                    home = home_.Path().string(), user = "big", password = "upload";
        char* argv[] = {python.data(), script.data(),   home.data(),
                        user.data(),   password.data(), nullptr};
        const int spawned = ::posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        if (spawned != 0)
            pid_ = -1;
        std::string line;
        char c = 0;
        pollfd ready{out[0], POLLIN, 0};
        while (pid_ > 0 && line.find('\n') == std::string::npos && ::poll(&ready, 1, 20000) > 0 &&
               ::read(out[0], &c, 1) == 1)
            line += c;
        ::close(out[0]);
        if (line.rfind("PORT ", 0) == 0)
            port_ = std::atoi(line.c_str() + 5);
        if (port_ == 0) {
            Stop();
            throw std::runtime_error("the counting FTP server did not start");
        }
    }
    ~CountingServer() { Stop(); }
    CountingServer(const CountingServer&) = delete;
    CountingServer& operator=(const CountingServer&) = delete;

    int Port() const { return port_; }
    // "<bytes> <sha256 of the last MiB>" of the upload of `name`; empty before it ended.
    std::string Received(const std::string& name) const {
        std::ifstream in(home_.Path() / (name + ".received"));
        std::string line;
        std::getline(in, line);
        return line;
    }

private:
    void Stop() {
        if (input_ >= 0)
            ::close(input_); // the server ends when its input closes
        input_ = -1;
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    test_support::TemporaryDirectory home_;
    pid_t pid_ = -1;
    int input_ = -1;
    int port_ = 0;
};

// The file's last MiB: every byte value, so that a shifted or lost block shows in the hash.
std::string LastMiB() {
    std::string bytes(static_cast<std::size_t>(kMiB), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 251 + 7) & 0xFF);
    return bytes;
}

class LargeUploadTest : public ::testing::TestWithParam<bool> {};

TEST_P(LargeUploadTest, FiveGiBArriveWholeWithCountsAndProgressPast32Bits) {
    test_support::TemporaryDirectory files;
    const std::filesystem::path big = files.Path() / "BIG.SVF";
    {
        std::ofstream(big, std::ios::binary).close();
        std::filesystem::resize_file(big, static_cast<std::uintmax_t>(kFileSize - kMiB));
        std::ofstream out(big, std::ios::binary | std::ios::app);
        const std::string last = LastMiB();
        out.write(last.data(), static_cast<std::streamsize>(last.size()));
    }
    ASSERT_EQ(std::filesystem::file_size(big), static_cast<std::uintmax_t>(kFileSize));

    CountingServer server;
    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserID = "big";
    ftp.Password = "upload";
    ftp.Passive = GetParam();

    // The progress hooked up as the apply procedure hooks it.
    FakeApplyUi ui;
    installer::UploadProgressReporter progress(ui);
    std::int64_t sentAtStop = -1;
    ftp.OnTransactionStart = [&](TObject*) { progress.Start(ftp.BytesTotal); };
    ftp.OnPacketSent = [&](TObject*) { progress.Sent(ftp.FDataConnection->BytesSent); };
    ftp.OnTransactionStop = [&](TObject*) {
        sentAtStop = ftp.FDataConnection->BytesSent;
        progress.DataSent(sentAtStop);
    };

    test_support::HangGuard guard(
        240000,
        [&] {
            ftp.Cancel();
            ftp.Abort();
        },
        100);
    ftp.Connect();
    ftp.Mode(2);
    progress.Begin(big.string());
    ftp.Upload(big.string(), "BIG");
    progress.Finish(true);
    ftp.Disconnect();
    guard.Disarm();
    ASSERT_FALSE(guard.Fired());

    std::istringstream received(server.Received("BIG"));
    std::int64_t count = 0;
    std::string lastHash;
    received >> count >> lastHash;
    EXPECT_EQ(count, kFileSize);
    EXPECT_EQ(lastHash, test_support::Sha256Hex(LastMiB()));
    EXPECT_EQ(ftp.BytesTotal, kFileSize);
    EXPECT_EQ(sentAtStop, kFileSize);

    ASSERT_GE(ui.progress.size(), 3u);
    int permille = 0;
    for (const auto& [share, text] : ui.progress) {
        EXPECT_GE(share, permille) << text;
        EXPECT_LE(share, 1000) << text;
        permille = share;
        if (text.find('%') != std::string::npos) {
            EXPECT_THAT(text, ::testing::HasSubstr(" of 5.4 GB"));
        }
    }
    EXPECT_EQ(ui.progress.back().first, 1000);
    EXPECT_THAT(ui.progress.back().second, ::testing::StartsWith("Sent BIG.SVF: 5.4 GB in "));
}

INSTANTIATE_TEST_SUITE_P(Modes, LargeUploadTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Passive" : "Active";
                         });

} // namespace
} // namespace apply_test
