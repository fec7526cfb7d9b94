// Status filtering by level, the error texts, socket error reporting, the library users
// count with its description lines, and NthField.
#include "tests/socket/socket_peer.h"
#include "tests/support/loopback_socket.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

using test_support::Peer;
using test_support::ReceiveExactly;
using test_support::ReceiveUntilClosed;
using test_support::SendAll;

std::vector<std::string> StatusesOfATransaction(int reportLevel) {
    Peer peer([](int c) {
        ReceiveExactly(c, 6);
        SendAll(c, "200 OK\r\n");
        ReceiveUntilClosed(c);
    });
    TStreamSocket sock;
    sock.Host = "127.0.0.1";
    sock.Port = peer.Port();
    sock.Connect();
    std::vector<std::string> statuses;
    sock.ReportLevel = reportLevel;
    sock.OnStatus = [&](TComponent* sender, const std::string& s) {
        EXPECT_EQ(sender, &sock);
        statuses.push_back(s);
    };
    sock.Transaction("NOOP");
    sock.Disconnect();
    return statuses;
}

TEST(StatusLevels, ZeroReportsNothing) {
    EXPECT_TRUE(StatusesOfATransaction(0).empty());
}

TEST(StatusLevels, OneReportsOnlyTheReplyLine) {
    const std::vector<std::string> expected = {"200 OK\r\n"};
    EXPECT_EQ(StatusesOfATransaction(1), expected);
}

TEST(StatusLevels, FourAddsTheLevelFourTexts) {
    const std::vector<std::string> expected = {"Sending Buffer", "200 OK\r\n",
                                               "Request Close Socket"};
    EXPECT_EQ(StatusesOfATransaction(4), expected);
}

TEST(StatusLevels, EightReportsEveryText) {
    const std::vector<std::string> expected = {
        "Transaction", "Writeln",    "Write",         "Sending Buffer",
        "Timer On",    "Timer Off",  "ReadLn",        "Timer On",
        "Timer Off",   "200 OK\r\n", "Disconnecting", "Request Close Socket"};
    EXPECT_EQ(StatusesOfATransaction(8), expected);
}

TEST(StatusLevels, StatusHoldsTheLastReportedText) {
    TStreamSocket sock;
    sock.ReportLevel = 4;
    sock.StatusMessage(8, "hidden");
    EXPECT_EQ(sock.Status, "");
    sock.StatusMessage(4, "shown");
    EXPECT_EQ(sock.Status, "shown");
}

TEST(ErrorTexts, KnownUnknownAndZero) {
    TStreamSocket sock;
    std::string msg = "stale";
    sock.ErrorMessage(0, msg);
    EXPECT_EQ(msg, "");
    sock.ErrorMessage(10061, msg);
    EXPECT_EQ(msg, "10061:Connection refused");
    sock.ErrorMessage(10004, msg);
    EXPECT_EQ(msg, "10004:Interrupted system call");
    sock.ErrorMessage(11003, msg);
    EXPECT_EQ(msg, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP");
    sock.ErrorMessage(11004, msg);
    EXPECT_EQ(msg, "11004:Valid name, no data record of requested type");
    sock.ErrorMessage(12345, msg);
    EXPECT_EQ(msg, "Unknown Error No. 12345");
    sock.ErrorMessage(10010, msg); // between two entries
    EXPECT_EQ(msg, "Unknown Error No. 10010");
}

TEST(ErrorTexts, LookingUpReportsTheCallersText) {
    TStreamSocket sock;
    sock.ReportLevel = 8;
    std::vector<std::string> statuses;
    sock.OnStatus = [&](TComponent*, const std::string& s) { statuses.push_back(s); };
    std::string msg = "before";
    sock.ErrorMessage(10061, msg);
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], "Looking Up Error Messagebefore");
}

TEST(SocketErrors, RealErrorFiresOnErrorThenRaises) {
    TStreamSocket sock;
    std::vector<std::pair<std::uint16_t, std::string>> errors;
    sock.OnError = [&](TComponent*, std::uint16_t number, const std::string& text) {
        errors.emplace_back(number, text);
    };
    // A connection to nothing at all fails at once with a real error.
    sock.Host = "127.0.0.1";
    sock.Port = test_support::ClosedPort();
    const TSocket real = sock.FSocket;
    sock.FSocket = kInvalidSocket - 1; // a handle that is not open
    std::string message;
    try {
        sock.Connect();
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        message = e.Message();
    }
    // POSIX calls it a bad file number, Windows Sockets not a socket.
    const std::map<int, std::string> texts = {{10009, "10009:Bad file number"},
                                              {10038, "10038:Socket operation on non-socket"}};
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_EQ(texts.count(errors[0].first), 1u) << errors[0].first;
    EXPECT_EQ(errors[0].second, texts.at(errors[0].first));
    EXPECT_EQ(message, errors[0].second);
    EXPECT_EQ(sock.LastErrorNo, errors[0].first);
    sock.FSocket = real;
    sock.OnError = nullptr;
}

TEST(SocketErrors, WouldBlockIsToleratedSilently) {
    Peer peer([](int c) { ReceiveUntilClosed(c); });
    TStreamSocket sock;
    int errors = 0;
    sock.OnError = [&](TComponent*, std::uint16_t, const std::string&) { ++errors; };
    sock.Host = "127.0.0.1";
    sock.Port = peer.Port();
    sock.Connect();
    EXPECT_EQ(sock.Read(0), ""); // a peek that would block
    std::string msg = "stale";
    sock.CheckSocketError(10035, msg);
    EXPECT_EQ(sock.LastErrorNo, 10035);
    EXPECT_EQ(msg, "");
    EXPECT_EQ(errors, 0);
    sock.Disconnect();
}

// `prefix` and a number: digits, or with `dotted` two runs of digits joined by a dot.
bool IsNumberLine(const std::string& line, const std::string& prefix, bool dotted) {
    if (line.rfind(prefix, 0) != 0)
        return false;
    const std::string number = line.substr(prefix.size());
    const auto dot = number.find('.');
    const auto digits = [](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!dotted)
        return digits(number);
    return dot != std::string::npos && digits(number.substr(0, dot)) &&
           digits(number.substr(dot + 1));
}

TEST(LibraryUsers, OnlyTheFirstLiveInstanceFillsWinsockInfo) {
    const int before = TStreamSocket::WinsockUsers();
    ASSERT_EQ(before, 0) << "an instance outlived its test";
    auto first = std::make_unique<TStreamSocket>();
    auto second = std::make_unique<TStreamSocket>();
    EXPECT_EQ(TStreamSocket::WinsockUsers(), 2);
    ASSERT_EQ(first->WinsockInfo.size(), 6u);
    // The version and sizes are the system's own; the forms are the socket layer's.
    EXPECT_TRUE(IsNumberLine(first->WinsockInfo[0], "Version= ", true)) << first->WinsockInfo[0];
    EXPECT_EQ(first->WinsockInfo[1].rfind("High Version= ", 0), 0u);
    EXPECT_EQ(first->WinsockInfo[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ(first->WinsockInfo[3].rfind("System= ", 0), 0u);
    EXPECT_EQ(first->WinsockInfo[4].rfind("Max Sockets= ", 0), 0u);
    EXPECT_TRUE(IsNumberLine(first->WinsockInfo[5], "Max Udp pack size= ", false))
        << first->WinsockInfo[5];
    EXPECT_TRUE(second->WinsockInfo.empty());
    first.reset();
    EXPECT_EQ(TStreamSocket::WinsockUsers(), 1);
    second.reset();
    EXPECT_EQ(TStreamSocket::WinsockUsers(), 0);
    TStreamSocket third;
    EXPECT_EQ(third.WinsockInfo.size(), 6u);
}

TEST(LibraryUsers, DestructionReportsNothingAndClosesTheSocket) {
    std::vector<std::string> statuses;
    int disconnects = 0;
    {
        TStreamSocket sock;
        sock.ReportLevel = 8;
        sock.OnStatus = [&](TComponent*, const std::string& s) { statuses.push_back(s); };
        sock.OnDisconnect = [&](TObject*) { ++disconnects; };
    }
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(disconnects, 0);
}

TEST(NthFieldSplit, FieldsByNumber) {
    EXPECT_EQ(NthField("a,b,c", ',', 1), "a");
    EXPECT_EQ(NthField("a,b,c", ',', 3), "c");
    EXPECT_EQ(NthField("a,b,c", ',', 4), "");
    EXPECT_EQ(NthField("a,,c", ',', 2), "");
    EXPECT_EQ(NthField("a,,c", ',', 3), "c");
    EXPECT_EQ(NthField("", ',', 1), "");
    EXPECT_EQ(NthField("abc", ',', 0), "");
    EXPECT_EQ(NthField("abc", ',', -1), "");
    EXPECT_EQ(NthField("CWD lib", ' ', 1), "CWD");
    EXPECT_EQ(NthField("227 Entering (10,0,0,5,19,137)\r\n", ',', 6), "137)\r\n");
    EXPECT_EQ(NthField("a,b,", ',', 3), "");
}

} // namespace
