// Fixture for the client against the scripted peer: a TNMFTP aimed at the peer, every
// event and level-1 status recorded in order, and a watchdog that cancels every wait of
// the client if a test would otherwise hang (the test then fails).
#pragma once

#include "ftp/nmftp.h"
#include "tests/support/hang_guard.h"
#include "tests/support/scripted_ftp_peer.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>
#include <vector>

class ScriptedClient : public ::testing::Test {
protected:
    void SetUp() override {
        ftp.Host = "127.0.0.1";
        ftp.Port = peer.Port();
        ftp.ReportLevel = 1;
        ftp.OnStatus = [this](TComponent*, const std::string& status) {
            statuses.push_back(status);
        };
        ftp.OnConnect = [this](TObject*) { events.push_back("Connect"); };
        ftp.OnConnectionFailed = [this](TObject*) { events.push_back("ConnectionFailed"); };
        ftp.OnSuccess = [this](TCmdType type) {
            events.push_back("Success:" + std::to_string(type));
        };
        watchdog.emplace(30000, [this] {
            ftp.Cancel();
            ftp.Abort();
        });
    }

    void TearDown() override {
        watchdog->Disarm();
        EXPECT_FALSE(watchdog->Fired()) << "the client hung and was cancelled";
    }

    // Queues the server side of a log-on as user "bob" with password "pw".
    void ScriptLogOn() {
        peer.Send("220 Service ready\r\n")
            .Reply("331 Password required\r\n")
            .Reply("230 Logged on\r\n");
    }

    // Starts the peer and logs the client on; events and statuses of the log-on are
    // forgotten so that a test sees only its own.
    void StartAndLogOn() {
        ftp.UserID = "bob";
        ftp.Password = "pw";
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

    test_support::ScriptedFtpPeer peer;
    TNMFTP ftp;
    std::optional<test_support::HangGuard> watchdog;
    std::vector<std::string> events;
    std::vector<std::string> statuses;
};

// Runs `operation` and returns the message of the exception of type E it raises ("" when
// it raises nothing; any other exception fails the test).
template <typename E, typename F> std::string MessageOf(F&& operation) {
    try {
        operation();
    } catch (const E& error) {
        return error.what();
    }
    return "";
}
