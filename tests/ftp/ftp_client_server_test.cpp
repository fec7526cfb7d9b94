// The client against a real FTP server (pyftpdlib): log-on, TYPE, CWD, and uploads in
// both modes checked by SHA-256 of what arrived.
#include "ftp/ftp_client.h"
#include "tests/support/client_hang_guard.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <memory>
#include <random>

namespace {

using test_support::RealFtpServer;

class RealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<RealFtpServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        ftp.Host = "127.0.0.1";
        ftp.Port = server->Port();
        ftp.UserID = server->User();
        ftp.Password = server->Password();
        // Bounds every wait of the client: a hang fails the test instead of blocking it.
        watchdog.Arm(ftp, 120000);
    }

    void TearDown() override {
        watchdog.ExpectNotFired();
        if (ftp.Connected)
            ftp.Disconnect();
    }

    static std::unique_ptr<RealFtpServer> server;
    TFtpClient ftp;
    test_support::ClientHangGuard watchdog;
};

std::unique_ptr<RealFtpServer> RealServer::server;

TEST_F(RealServer, LogsOnAndOffWithTheRightPassword) {
    int connects = 0;
    ftp.OnConnect = [&](TObject*) { ++connects; };
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(ftp.ReplyNumber, 230);
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected);
    // A client can log on again after logging off.
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected);
}

TEST_F(RealServer, WrongPasswordFailsTheLogOnAndLeavesItClosed) {
    int failures = 0;
    ftp.OnConnectionFailed = [&](TObject*) { ++failures; };
    ftp.Password = "wrong";
    try {
        ftp.Connect();
        FAIL() << "logged on with a wrong password";
    } catch (const FTPException& error) {
        EXPECT_EQ(std::string(error.what()).substr(0, 4), "530 ");
    }
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(failures, 1);
}

TEST_F(RealServer, BinaryTypeAndChangeDirectory) {
    std::filesystem::create_directory(server->Home() / "QGPL");
    std::vector<TCmdType> succeeded;
    ftp.OnSuccess = [&](TCmdType type) { succeeded.push_back(type); };
    ftp.Connect();
    ftp.Mode(2);
    EXPECT_EQ(ftp.ReplyNumber, 200);
    ftp.ChangeDir("QGPL");
    EXPECT_EQ(ftp.ReplyNumber, 250);
    try {
        ftp.ChangeDir("MISSING");
        FAIL() << "changed into a missing directory";
    } catch (const FTPException& error) {
        EXPECT_EQ(std::string(error.what()).substr(0, 4), "550 ");
    }
    EXPECT_TRUE(ftp.Connected);
    EXPECT_EQ(succeeded, (std::vector<TCmdType>{ctDoCommand, ctChangeDir}));
}

// Uploads of sizes around the 64 KiB block, in both modes.
class RealServerUpload : public RealServer,
                         public ::testing::WithParamInterface<std::tuple<bool, std::size_t>> {};

TEST_P(RealServerUpload, ArrivesIntact) {
    const auto [passive, size] = GetParam();
    test_support::TemporaryDirectory local;
    const auto file = local.Path() / "upload.svf";
    {
        std::mt19937 random(static_cast<unsigned>(size) + (passive ? 1 : 0));
        std::string block(size, '\0');
        for (auto& byte : block)
            byte = static_cast<char>(random());
        std::ofstream(file, std::ios::binary) << block;
    }
    const std::string remote = (passive ? "P" : "A") + std::to_string(size) + ".SVF";
    bool succeeded = false;
    ftp.OnSuccess = [&](TCmdType type) { succeeded = type == ctUpload; };
    ftp.Passive = passive;
    ftp.Connect();
    ftp.Mode(2);
    ftp.Upload(file.string(), remote);
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(ftp.BytesTotal, static_cast<std::int32_t>(size));
    EXPECT_EQ(ftp.FDataConnection, nullptr);
    ftp.Disconnect(); // the server has certainly closed the file once QUIT is answered
    EXPECT_EQ(test_support::Sha256OfFile(server->Home() / remote),
              test_support::Sha256OfFile(file));
    std::filesystem::remove(server->Home() / remote);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealServerUpload,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(0, 1, 65535, 65536, 65537, 150000,
                                                              10u << 20)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Passive" : "Active") +
                                    std::to_string(std::get<1>(info.param));
                         });

class RealServerRefusal : public RealServer, public ::testing::WithParamInterface<bool> {};

TEST_P(RealServerRefusal, RefusedStorFreesTheTransferAndKeepsTheSession) {
    test_support::TemporaryDirectory local;
    const auto file = local.Path() / "a.svf";
    std::ofstream(file, std::ios::binary) << "data";
    ftp.Passive = GetParam();
    ftp.Connect();
    try {
        ftp.Upload(file.string(), "NO/SUCH/DIR.SVF");
        FAIL() << "the server stored into a missing directory";
    } catch (const FTPException& error) {
        EXPECT_EQ(std::string(error.what()).substr(0, 1), "5") << error.what();
    }
    EXPECT_EQ(ftp.FDataConnection, nullptr);
    EXPECT_TRUE(std::async(std::launch::async, [this] {
                    if (!ftp.FTransferLock.try_lock())
                        return false;
                    ftp.FTransferLock.unlock();
                    return true;
                }).get());
    EXPECT_TRUE(ftp.Connected);
    ftp.DoCommand("PWD");
    EXPECT_EQ(ftp.ReplyNumber, 257);
    // And the next upload goes through.
    ftp.Upload(file.string(), "OK.SVF");
    EXPECT_EQ(test_support::Sha256OfFile(server->Home() / "OK.SVF"),
              test_support::Sha256Hex("data"));
}

INSTANTIATE_TEST_SUITE_P(Modes, RealServerRefusal, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

} // namespace
