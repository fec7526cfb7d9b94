// Fixture for the FTP client against the scripted peer: a TFtpClient aimed at the peer, logging
// on as "bob" with password "pw", every event and status up to the fixture's report level
// recorded in order, and a hang guard that cancels every wait of the client if a test would
// otherwise hang (the test then fails).
#pragma once

#include "ftp/ftp_client.h"
#include "tests/support/client_hang_guard.h"
#include "tests/support/scripted_ftp_peer.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

namespace test_support {

class FtpClientFixture : public ::testing::Test {
protected:
    static constexpr int kHangLimitMs = 30000;

    // `peerStepLimit` bounds every step of the peer; `cancelRepeatMs` above 0 makes the
    // guard, once it has fired, cancel again at that interval until the client gives up.
    explicit FtpClientFixture(
        int reportLevel = 1,
        ScriptedFtpPeer::Milliseconds peerStepLimit = ScriptedFtpPeer::Milliseconds(10000),
        int cancelRepeatMs = 0)
        : peer(peerStepLimit), reportLevel_(reportLevel), cancelRepeatMs_(cancelRepeatMs) {}

    void SetUp() override {
        ftp.Host = "127.0.0.1";
        ftp.Port = peer.Port();
        ftp.UserID = "bob";
        ftp.Password = "pw";
        ftp.ReportLevel = reportLevel_;
        ftp.OnStatus = [this](TComponent*, const std::string& status) {
            statuses.push_back(status);
        };
        ftp.OnConnect = [this](TObject*) { events.push_back("Connect"); };
        ftp.OnConnectionFailed = [this](TObject*) { events.push_back("ConnectionFailed"); };
        ftp.OnSuccess = [this](TCmdType type) {
            events.push_back("Success:" + std::to_string(type));
        };
        watchdog.Arm(ftp, kHangLimitMs, cancelRepeatMs_);
    }

    void TearDown() override { watchdog.ExpectNotFired(); }

    // Starts the peer and logs the client on; events and statuses of the log-on are
    // forgotten so that a test sees only its own.
    void StartAndLogOn() {
        peer.Start();
        ftp.Connect();
        ASSERT_TRUE(ftp.Connected);
        events.clear();
        statuses.clear();
    }

    // Commands the peer received after the log-on's USER and PASS.
    std::vector<std::string> CommandsAfterLogOn() const {
        auto all = peer.Commands();
        return all.size() <= 2 ? std::vector<std::string>{}
                               : std::vector<std::string>(all.begin() + 2, all.end());
    }

    // The upload lock, tried from another thread (the owner could always re-enter it).
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

    void FinishPeer() { EXPECT_TRUE(peer.Finish()) << peer.Error(); }

    ScriptedFtpPeer peer;
    TFtpClient ftp;
    ClientHangGuard watchdog;
    std::vector<std::string> events;
    std::vector<std::string> statuses;

private:
    int reportLevel_;
    int cancelRepeatMs_;
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

} // namespace test_support
