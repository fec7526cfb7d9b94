// Pairing replies with commands, through a real TCP connection on 127.0.0.1: a server that
// answers each command line of the FTP client with the next piece of the input (pieces
// separated by the byte 0xFE; the first piece is the greeting). In a conversation where
// every answer is one reply line ("ddd text" CR LF), however long, a command whose answer
// fits the reading buffer must end exactly as that reply says: a success with that number,
// or FTPException with that line. A client that takes what is left of an earlier reply
// for a later command fails this.
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

// "ddd text" CR LF and nothing else: one complete single-line reply.
bool SingleReply(const std::string& reply) {
    return reply.size() >= 6 &&
           std::all_of(reply.begin(), reply.begin() + 3,
                       [](char c) { return c >= '0' && c <= '9'; }) &&
           reply[3] == ' ' && reply.find('\n') == reply.size() - 1 &&
           reply[reply.size() - 2] == '\r';
}

// A reply the client can be held to: a single reply that fits the reading buffer (a longer
// line is refused by design), after a conversation in which every earlier answer was one
// single reply too. Where the server said more than was asked, no client can tell which
// line answers what, so nothing is checked.
bool Checkable(const std::vector<std::string>& replies, std::size_t answer) {
    if (replies[answer].size() > TStreamSocket::kBufferSize)
        return false;
    for (std::size_t i = 0; i <= answer; ++i)
        if (!SingleReply(replies[i]))
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
    const auto answer = Peer().AnswerTo(command);
    if (!answer || !Checkable(replies, *answer))
        return;
    const std::string& reply = replies[*answer];
    const std::string shown = reply.substr(0, 40);
    const int code = std::stoi(reply.substr(0, 3));
    const bool refusal = code >= 400 && code <= 599;
    if (succeeded) {
        FUZZ_CHECK(!refusal, command + " succeeded, but the server refused it: " + shown);
        FUZZ_CHECK(ftp.ReplyNumber == code, command + " took another reply than " + shown);
        FUZZ_CHECK(ftp.TransactionReply == reply, command + " took another reply line");
    } else {
        FUZZ_CHECK(ftpFailure,
                   command + " failed with '" + failure.substr(0, 40) + "' on the reply " + shown);
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
