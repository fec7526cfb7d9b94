// Fixture for the FTP client against the hostile peer: a TNMFTP aimed at the peer with
// every status (level 8) and event recorded, and a limit far beyond any sound run: when it
// passes, every wait of the client is cancelled, over and over until the client gives up,
// and the test fails as hung.
#pragma once

#include "ftp/nmftp.h"
#include "tests/support/hang_guard.h"
#include "tests/support/scripted_ftp_peer.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>
#include <vector>

namespace hardening {

class HostileClient : public ::testing::Test {
protected:
    void SetUp() override {
        ftp.Host = "127.0.0.1";
        ftp.Port = peer.Port();
        ftp.UserID = "bob";
        ftp.Password = "pw";
        ftp.ReportLevel = 8;
        ftp.OnStatus = [this](TComponent*, const std::string& status) {
            statuses.push_back(status);
        };
        ftp.OnConnect = [this](TObject*) { events.push_back("Connect"); };
        ftp.OnConnectionFailed = [this](TObject*) { events.push_back("ConnectionFailed"); };
        ftp.OnSuccess = [this](TCmdType type) {
            events.push_back("Success:" + std::to_string(type));
        };
        limit.emplace(
            kHangLimitMs,
            [this] {
                ftp.Cancel();
                ftp.Abort();
            },
            20);
    }

    void TearDown() override {
        limit->Disarm();
        EXPECT_FALSE(limit->Fired()) << "the client hung and had to be cancelled";
    }

    void StartAndLogOn() {
        peer.Start();
        ftp.Connect();
        ASSERT_TRUE(ftp.Connected);
        events.clear();
        statuses.clear();
    }

    // Commands after USER and PASS.
    std::vector<std::string> CommandsAfterLogOn() const {
        auto all = peer.Commands();
        return all.size() <= 2 ? std::vector<std::string>{}
                               : std::vector<std::string>(all.begin() + 2, all.end());
    }

    // Tried from another thread: the owning thread could always re-enter it.
    bool TransferLockIsFree() {
        return std::async(std::launch::async,
                          [this] {
                              if (!ftp.FTransferLock.try_lock())
                                  return false;
                              ftp.FTransferLock.unlock();
                              return true;
                          })
            .get();
    }

    // The usual log-on, queued on the peer; the rest of the script chains on.
    test_support::ScriptedFtpPeer& ScriptLogOn() {
        return peer.LogOn("220 Hostile server ready\r\n");
    }

    // Nothing of an upload may stay behind, however it ended.
    void ExpectNoUploadLeftBehind() {
        EXPECT_EQ(ftp.FDataConnection, nullptr);
        EXPECT_TRUE(TransferLockIsFree());
    }

    static constexpr int kHangLimitMs = 30000;

    // Bounds every step of the peer (and its Finish()) far beyond any sound run.
    test_support::ScriptedFtpPeer peer{test_support::ScriptedFtpPeer::Milliseconds(20000)};
    TNMFTP ftp;
    std::optional<test_support::HangGuard> limit;
    std::vector<std::string> events;
    std::vector<std::string> statuses;
};

// The message of the exception of type E that `operation` raises; "" when it raises
// nothing (any other exception fails the test).
template <typename E, typename F> std::string MessageOf(F&& operation) {
    try {
        operation();
    } catch (const E& error) {
        if constexpr (requires { error.Message(); })
            return error.Message(); // the whole text, NULs included
        else
            return error.what();
    }
    return "";
}

} // namespace hardening
