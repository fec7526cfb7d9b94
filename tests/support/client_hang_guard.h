// Bounds every wait of a test's FTP client: past the limit the client is cancelled and
// aborted (again every `repeatMs`, when given), so that a hang fails the test at its end
// instead of blocking the whole run.
#pragma once

#include "ftp/ftp_client.h"
#include "tests/support/hang_guard.h"

#include <gtest/gtest.h>

#include <optional>

namespace test_support {

class ClientHangGuard {
public:
    void Arm(TFtpClient& ftp, int limitMs, int repeatMs = 0) {
        guard_.emplace(
            limitMs,
            [&ftp] {
                ftp.Cancel();
                ftp.Abort();
            },
            repeatMs);
    }

    // At the end of the test: a guard that had to step in fails it.
    void ExpectNotFired() {
        if (!guard_)
            return;
        guard_->Disarm();
        EXPECT_FALSE(guard_->Fired()) << "the client hung and had to be cancelled";
    }

private:
    std::optional<HangGuard> guard_;
};

} // namespace test_support
