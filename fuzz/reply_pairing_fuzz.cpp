// Pairing replies with commands, through a real TCP connection on 127.0.0.1: a server that
// answers each command line of the FTP client with the next piece of the input (pieces
// separated by the byte 0xFE; the first piece is the greeting). In a conversation where
// every answer is one well-formed reply (a line "ddd text" CR LF, or lines from "ddd-" to
// the first that begins "ddd " with any text between, within the reply bounds), a command
// must end exactly as its reply's first line says: a success with that number, or
// FTPException with that line. A client that takes what is left of an earlier reply for a
// later command fails this. And whatever the server says, a command never succeeds on an
// answer that does not begin with a reply code.
#include "fuzz/fuzz_target.h"

#include "ftp/ftp_client.h"
#include "fuzz/loopback_peer.h"
#include "platform/event_pump.h"
#include "platform/exception.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr char kSeparator = '\xfe';
constexpr int kMostCommands = 16;

fuzz::LoopbackPeer& Peer() {
    static fuzz::LoopbackPeer peer;
    return peer;
}

std::vector<std::string> Split(const std::string& bytes) {
    std::vector<std::string> pieces(1);
    for (const char byte : bytes) {
        if (byte == kSeparator)
            pieces.emplace_back();
        else
            pieces.back() += byte;
    }
    return pieces;
}

bool IsCode(const std::string& line) {
    return line.size() >= 3 &&
           std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; });
}

// One complete reply and nothing else: every line ends in CR LF and fits the reading
// buffer; either one line "ddd text", or "ddd-" lines up to the first that begins with the
// same code and a space, which is the last; at most 10,000 lines and 1 MiB.
bool WellFormedReply(const std::string& reply) {
    if (reply.size() > 1024 * 1024 || !IsCode(reply) || reply.size() < 6)
        return false;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < reply.size();) {
        const auto lf = reply.find('\n', start);
        if (lf == std::string::npos || lf == start || reply[lf - 1] != '\r' ||
            lf + 1 - start > TStreamSocket::kBufferSize)
            return false;
        lines.push_back(reply.substr(start, lf + 1 - start));
        start = lf + 1;
    }
    const std::string end = reply.substr(0, 3) + " ";
    if (lines.size() > 10000 || (reply[3] != ' ' && reply[3] != '-'))
        return false;
    if (reply[3] == ' ')
        return lines.size() == 1;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (lines[i].compare(0, 4, end) == 0)
            return i + 1 == lines.size();
    return false;
}

// A reply the client can be held to: a well-formed reply after a conversation in which
// every earlier answer was one well-formed reply too. Where the server said more or less
// than one reply, no client can tell which line answers what, so only the first property
// is checked.
bool Checkable(const std::vector<std::string>& replies, std::size_t answer) {
    for (std::size_t i = 0; i <= answer; ++i)
        if (!WellFormedReply(replies[i]))
            return false;
    return true;
}

void CheckCommand(TFtpClient& ftp, const std::vector<std::string>& replies, int number) {
    const std::string command = "NOOP " + std::to_string(number);
    bool succeeded = false;
    std::string failure;
    bool ftpFailure = false;
    try {
        ftp.DoCommand(command);
        succeeded = true;
    } catch (const FTPException& error) {
        failure = error.Message();
        ftpFailure = true;
    } catch (const platform::Exception& error) {
        failure = error.Message();
    }
    if (succeeded)
        FUZZ_CHECK(IsCode(ftp.TransactionReply),
                   command + " succeeded on an answer without a code");
    const auto answer = Peer().AnswerTo(command);
    if (!answer || !Checkable(replies, *answer))
        return;
    const std::string& whole = replies[*answer];
    const std::string reply = whole.substr(0, whole.find('\n') + 1);
    const std::string shown = reply.substr(0, 40);
    FUZZ_CHECK(succeeded || ftpFailure,
               command + " failed with '" + failure.substr(0, 40) + "' on the reply " + shown);
    const int code = std::stoi(reply.substr(0, 3));
    const bool refusal = code >= 400 && code <= 599;
    if (succeeded) {
        FUZZ_CHECK(!refusal, command + " succeeded, but the server refused it: " + shown);
        FUZZ_CHECK(ftp.ReplyNumber == code, command + " took another reply than " + shown);
        FUZZ_CHECK(ftp.TransactionReply == reply, command + " took another reply line");
    } else {
        FUZZ_CHECK(refusal, command + " failed on the reply " + shown);
        FUZZ_CHECK(failure == reply, command + " failed with another reply line");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::EnsureApplication();
    const std::vector<std::string> replies =
        Split(std::string(reinterpret_cast<const char*>(data), size));
    const std::uint16_t port = Peer().ServeReplies(replies);
    {
        TFtpClient ftp;
        ftp.Host = "127.0.0.1";
        ftp.Port = port;
        ftp.UserID = "user";
        ftp.Password = "secret";
        try {
            ftp.Connect();
        } catch (const platform::Exception&) {
        }
        for (int number = 1; ftp.Connected && number <= kMostCommands; ++number)
            CheckCommand(ftp, replies, number);
        try {
            ftp.Disconnect();
        } catch (const platform::Exception&) {
        }
    }
    Peer().Join();
    return 0;
}
