// Reading what a server sends, through a real TCP connection on 127.0.0.1: the socket's
// ReadLn line by line, and the FTP client's log-on and commands (Transaction and
// ReadReplyLines) over a server whose every byte is the input.
//
// The input's first byte picks the reader and the second the size of the pieces the
// server writes. Properties: nothing but the system's own errors leaves the client; ReadLn
// returns exactly the server's bytes up to its last line end, line by line, or refuses a
// line that does not fit its 64 KiB buffer; a client that gave up is no longer connected.
#include "fuzz/fuzz_target.h"

#include "ftp/ftp_client.h"
#include "fuzz/loopback_peer.h"
#include "platform/event_pump.h"
#include "platform/exception.h"
#include "socket/stream_socket.h"

#include <string>
#include <vector>

namespace {

constexpr std::size_t kLongestLine = TStreamSocket::kBufferSize;

fuzz::LoopbackPeer& Peer() {
    static fuzz::LoopbackPeer peer;
    return peer;
}

// The lines ReadLn must return for `bytes`, and whether it must then refuse a line that
// is too long instead of reporting the end of the connection.
struct ExpectedLines {
    std::vector<std::string> lines;
    bool tooLong = false;
};

ExpectedLines Expect(const std::string& bytes) {
    ExpectedLines expected;
    std::size_t start = 0;
    for (;;) {
        const auto lf = bytes.find('\n', start);
        const std::size_t length = (lf == std::string::npos ? bytes.size() : lf + 1) - start;
        // A line is refused once 64 KiB of it have arrived without its end.
        if (lf == std::string::npos ? length >= kLongestLine : length > kLongestLine) {
            expected.tooLong = true;
            return expected;
        }
        if (lf == std::string::npos)
            return expected; // a partial last line is dropped when the server closes
        expected.lines.push_back(bytes.substr(start, length));
        start = lf + 1;
    }
}

void ReadLines(const std::string& bytes, std::uint16_t port) {
    const ExpectedLines expected = Expect(bytes);
    std::vector<std::string> lines;
    bool refused = false;
    {
        TStreamSocket socket;
        socket.Host = "127.0.0.1";
        socket.Port = port;
        socket.Connect();
        try {
            for (std::string line = socket.ReadLn(); !line.empty(); line = socket.ReadLn())
                lines.push_back(line);
        } catch (const ESockError& error) {
            FUZZ_CHECK(error.Kind() == SockErrorKind::LineTooLong,
                       "ReadLn failed: " + error.Message());
            refused = true;
        }
    }
    Peer().Join();
    FUZZ_CHECK(refused == expected.tooLong, "a long line was not handled as expected");
    FUZZ_CHECK(lines == expected.lines, "ReadLn did not return the server's lines");
}

void LogOnAndCommand(std::uint8_t mode, std::uint16_t port) {
    {
        TFtpClient ftp;
        ftp.Host = "127.0.0.1";
        ftp.Port = port;
        ftp.UserID = "user";
        ftp.Password = "secret";
        ftp.ReportLevel = 8;
        std::size_t statusBytes = 0;
        ftp.OnStatus = [&statusBytes](TComponent*, const std::string& status) {
            statusBytes += status.size();
        };
        if (mode % 4 == 2) {
            ftp.FWAuthenticate = true;
            ftp.FWUserID = "fw";
            ftp.FWPassword = "fwsecret";
        } else if (mode % 4 == 3) {
            ftp.Proxy = "127.0.0.1";
            ftp.ProxyPort = port;
            ftp.FirewallType = static_cast<TFirewallType>((mode / 4) % 3);
        }
        int failures = 0;
        ftp.OnFailure = [&failures](bool& handled, TCmdType) { handled = ++failures % 2 == 0; };
        try {
            ftp.Connect();
            FUZZ_CHECK(ftp.Connected, "logged on but not connected");
            ftp.DoCommand("NOOP");
            ftp.ChangeDir("KDXSUPPT");
            ftp.Mode(2);
            ftp.Disconnect();
            FUZZ_CHECK(!ftp.Connected, "still connected after QUIT");
        } catch (const platform::Exception& error) {
            // Every failure is one of the system's own errors with a message to show.
            FUZZ_CHECK(!error.Message().empty() || dynamic_cast<const FTPException*>(&error),
                       "an error without a message");
        }
    }
    Peer().Join();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    platform::EnsureApplication();
    const std::uint8_t mode = data[0];
    const std::size_t piece = 1 + data[1] * 37u;
    std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::uint16_t port = Peer().Serve(bytes, piece);
    if (mode % 4 == 0)
        ReadLines(bytes, port);
    else
        LogOnAndCommand(mode, port);
    return 0;
}
