// A save file beyond 4 GiB, active and passive: every byte reaches the server, the byte
// counts and the progress stay right past the 32-bit range. The file is sparse and the
// server only counts what arrives and hashes its last MiB, so no test needs 5 GiB of disk.
#include "tests/installer/apply_fixture.h"
#include "tests/support/hang_guard.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/sha256.h"

#include "installer/procedure/upload_progress_reporter.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

using test_support::FakeWindow;

constexpr std::int64_t kFileSize = std::int64_t{5} << 30;
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// tests/installer/counting_ftp_server.py on 127.0.0.1, serving a temporary folder.
class CountingServer {
public:
    int Port() const { return server_.Port(); }
    // "<bytes> <sha256 of the last MiB>" of the upload of `name`; empty before it ended.
    std::string Received(const std::string& name) const {
        const std::string text = test_support::ReadFile(server_.Home() / (name + ".received"));
        return text.substr(0, text.find('\n'));
    }

private:
    test_support::RealFtpServer server_{"big", "upload", "127.0.0.1", COUNTING_FTP_SERVER};
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
    FakeWindow ui;
    installer::UploadProgressReporter progress;
    progress.Attach(&ui);
    std::int64_t sentAtStop = -1;
    ftp.OnTransactionStart = [&](TObject*) { progress.Start(ftp.BytesTotal); };
    ftp.OnPacketSent = [&](TObject*) { progress.Sent(ftp.BytesSent()); };
    ftp.OnTransactionStop = [&](TObject*) {
        sentAtStop = ftp.BytesSent();
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
