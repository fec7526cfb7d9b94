// Fixture for the client against the scripted peer: the shared client fixture at report
// level 1, with the log-on script of these tests.
#pragma once

#include "tests/support/ftp_client_fixture.h"

namespace test_support {

class ScriptedClient : public FtpClientFixture {
protected:
    // Queues the server side of a log-on as user "bob" with password "pw".
    void ScriptLogOn() {
        peer.Send("220 Service ready\r\n")
            .Reply("331 Password required\r\n")
            .Reply("230 Logged on\r\n");
    }
};

} // namespace test_support
