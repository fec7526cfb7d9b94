// Fixture for the FTP client against the hostile peer: the shared client fixture recording
// every status (level 8), with a limit far beyond any sound run: when it passes, every wait
// of the client is cancelled, over and over until the client gives up, and the test fails
// as hung.
#pragma once

#include "tests/support/ftp_client_fixture.h"

namespace test_support {

class HostileClient : public FtpClientFixture {
protected:
    // Every step of the peer (and its Finish()) is bounded far beyond any sound run.
    HostileClient() : FtpClientFixture(8, ScriptedFtpPeer::Milliseconds(20000), 20) {}

    // The usual log-on, queued on the peer; the rest of the script chains on.
    ScriptedFtpPeer& ScriptLogOn() { return peer.LogOn("220 Hostile server ready\r\n"); }

    // Nothing of an upload may stay behind, however it ended.
    void ExpectNoUploadLeftBehind() {
        EXPECT_EQ(ftp.FDataConnection, nullptr);
        EXPECT_TRUE(TransferLockIsFree());
    }
};

} // namespace test_support
