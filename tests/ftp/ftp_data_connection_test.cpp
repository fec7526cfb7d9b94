// The data connection's modes against real servers over IPv4 and IPv6 (the host emulator and
// pyftpdlib), the automatic switch to passive when the host cannot connect back, a host
// that will not end the STOR it could not connect back for, and another program that
// connects to the announced port before the host.
#include "ftp/ftp_client.h"
#include "ftp/reply_parsing.h"
#include "platform/host_lookup.h"
#include "tests/support/client_hang_guard.h"
#include "tests/support/ftp_client_fixture.h"
#include "tests/support/host_emulator.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/sha256.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_certificates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <random>

namespace {

using test_support::HostEmulator;
using test_support::HostEmulatorConfig;
using ::testing::ElementsAreArray;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::filesystem::path WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// The commands that open data connections and store files, by their first word.
std::vector<std::string> DataCommands(const HostEmulator& host) {
    std::vector<std::string> words;
    for (const std::string& command : host.Commands()) {
        const std::string word = command.substr(0, command.find(' '));
        for (const char* wanted : {"PORT", "EPRT", "PASV", "EPSV", "STOR", "ABOR"})
            if (word == wanted)
                words.push_back(word);
    }
    return words;
}

class DataConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { guard.Arm(ftp, 60000); }
    void TearDown() override {
        guard.ExpectNotFired();
        if (ftp.Connected)
            ftp.Disconnect();
    }

    test_support::TemporaryDirectory local;
    TFtpClient ftp;
    test_support::ClientHangGuard guard;
};

struct ModeCase {
    const char* name;
    bool emulator; // else pyftpdlib
    const char* address;
    TDataConnectionMode mode;
    const char* opening; // the command the emulator must have seen
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name << " (" << c.address << ")";
}

class DataConnectionModes : public DataConnectionTest,
                            public ::testing::WithParamInterface<ModeCase> {};

TEST_P(DataConnectionModes, UploadArrivesWholeOverTheFamilysCommands) {
    const ModeCase& c = GetParam();
    const std::string bytes = RandomBytes(300000, 7);
    const auto file = WriteFile(local.Path() / "upload.svf", bytes);
    std::unique_ptr<HostEmulator> host;
    std::unique_ptr<test_support::RealFtpServer> server;
    if (c.emulator) {
        host = std::make_unique<HostEmulator>(
            HostEmulatorConfig{"QSECOFR", "Secret1", {"--listen", c.address}});
        ftp.Port = host->Port();
        ftp.UserID = host->User();
        ftp.Password = host->Password();
    } else {
        server = std::make_unique<test_support::RealFtpServer>("tester", "s3cret", c.address);
        ftp.Port = server->Port();
        ftp.UserID = server->User();
        ftp.Password = server->Password();
    }
    ftp.Host = c.address;
    ftp.DataConnection = c.mode;
    ftp.Connect();
    ftp.Mode(2);
    ftp.Upload(file.string(), c.emulator ? "KDXSUPPT/UPLOAD" : "upload.svf");

    const std::string expected = test_support::Sha256Hex(bytes);
    if (c.emulator) {
        EXPECT_EQ(test_support::Sha256Hex(host->StoredFile("KDXSUPPT", "UPLOAD").value_or("")),
                  expected);
        EXPECT_THAT(DataCommands(*host), ElementsAreArray({c.opening, "STOR"}));
    } else {
        // pyftpdlib refuses PORT and PASV on an IPv6 connection: arriving proves EPRT/EPSV.
        EXPECT_EQ(test_support::Sha256OfFile(server->Home() / "upload.svf"), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, DataConnectionModes,
    ::testing::Values(
        ModeCase{"EmulatorActiveV4", true, "127.0.0.1", TDataConnectionMode::Active, "PORT"},
        ModeCase{"EmulatorPassiveV4", true, "127.0.0.1", TDataConnectionMode::Passive, "PASV"},
        ModeCase{"EmulatorActiveV6", true, "::1", TDataConnectionMode::Active, "EPRT"},
        ModeCase{"EmulatorPassiveV6", true, "::1", TDataConnectionMode::Passive, "EPSV"},
        ModeCase{"PyftpdlibActiveV4", false, "127.0.0.1", TDataConnectionMode::Active, ""},
        ModeCase{"PyftpdlibPassiveV4", false, "127.0.0.1", TDataConnectionMode::Passive, ""},
        ModeCase{"PyftpdlibActiveV6", false, "::1", TDataConnectionMode::Active, ""},
        ModeCase{"PyftpdlibPassiveV6", false, "::1", TDataConnectionMode::Passive, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct FallbackCase {
    const char* name;
    const char* address;
    std::vector<std::string> hostOptions;
    std::vector<std::string> commands; // DataCommands of the two uploads
};

void PrintTo(const FallbackCase& c, std::ostream* os) {
    *os << c.name << " (" << c.address << ")";
}

class AutoFallback : public DataConnectionTest,
                     public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(AutoFallback, GoesPassiveOnceAndStoresEveryByteOnce) {
    const FallbackCase& c = GetParam();
    std::vector<std::string> options = {"--listen", c.address};
    options.insert(options.end(), c.hostOptions.begin(), c.hostOptions.end());
    HostEmulator host(HostEmulatorConfig{"QSECOFR", "Secret1", options});
    const std::string first = RandomBytes(200000, 1);
    const std::string second = RandomBytes(70000, 2);
    const auto firstFile = WriteFile(local.Path() / "first.svf", first);
    const auto secondFile = WriteFile(local.Path() / "second.svf", second);
    int fallbacks = 0;
    ftp.OnPassiveFallback = [&](TObject*) { ++fallbacks; };
    ftp.Host = c.address;
    ftp.Port = host.Port();
    ftp.UserID = host.User();
    ftp.Password = host.Password();
    ftp.DataConnection = TDataConnectionMode::Auto;
    ftp.ConnectBackTimeOut = 300;
    ftp.Connect();
    ftp.Mode(2);
    ftp.ChangeDir("KDXSUPPT");
    ftp.Upload(firstFile.string(), "FIRST");
    ftp.Upload(secondFile.string(), "SECOND");

    EXPECT_EQ(fallbacks, 1);
    EXPECT_TRUE(ftp.UsingPassive());
    EXPECT_EQ(test_support::Sha256Hex(host.StoredFile("KDXSUPPT", "FIRST").value_or("")),
              test_support::Sha256Hex(first));
    EXPECT_EQ(test_support::Sha256Hex(host.StoredFile("KDXSUPPT", "SECOND").value_or("")),
              test_support::Sha256Hex(second));
    EXPECT_THAT(DataCommands(host), ElementsAreArray(c.commands));
    // Nothing of the abandoned STOR is left over to be taken for a later reply.
    ftp.DoCommand("NOOP");
    EXPECT_EQ(ftp.TransactionReply, "200 NOOP subcommand received.\r\n");
    // A new connection starts active again.
    ftp.Disconnect();
    ftp.Connect();
    EXPECT_FALSE(ftp.UsingPassive());
}

INSTANTIATE_TEST_SUITE_P(
    ConnectBackFaults, AutoFallback,
    ::testing::Values(
        // The host answers STOR with 150, its connection back is refused, and 425 follows.
        FallbackCase{"RefusedV4",
                     "127.0.0.1",
                     {"--connect-back", "refused"},
                     {"PORT", "STOR", "PASV", "STOR", "PASV", "STOR"}},
        FallbackCase{"RefusedV6",
                     "::1",
                     {"--connect-back", "refused"},
                     {"EPRT", "STOR", "EPSV", "STOR", "EPSV", "STOR"}},
        // 150 and then nothing: the client gives up waiting and ends the STOR with ABOR.
        FallbackCase{"NeverV6",
                     "::1",
                     {"--connect-back", "never"},
                     {"EPRT", "STOR", "ABOR", "EPSV", "STOR", "EPSV", "STOR"}},
        // 150, then 425 before the client's own bound: no ABOR is needed.
        FallbackCase{"GivesUpFirstV4",
                     "127.0.0.1",
                     {"--connect-back", "never", "--connect-back-give-up", "0.05"},
                     {"PORT", "STOR", "PASV", "STOR", "PASV", "STOR"}},
        // A host that connects at once on PORT and says there that it cannot.
        FallbackCase{"PortRefusedV4",
                     "127.0.0.1",
                     {"--reply-to", "PORT", "425 Unable to open data connection."},
                     {"PORT", "PASV", "STOR", "PASV", "STOR"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct StrangerCase {
    const char* name;
    TFtpSecurity security;
};

void PrintTo(const StrangerCase& c, std::ostream* os) {
    *os << c.name;
}

class StrangerOnThePort : public DataConnectionTest,
                          public ::testing::WithParamInterface<StrangerCase> {};

TEST_P(StrangerOnThePort, GetsNothingAndTheHostsOwnConnectionCarriesTheFile) {
    const StrangerCase& c = GetParam();
    HostEmulatorConfig config{"QSECOFR", "Secret1", {"--listen", "127.0.0.1"}};
    std::optional<test_support::TestCertificates> certificates;
    if (c.security != TFtpSecurity::None) {
        certificates.emplace();
        config.options.insert(config.options.end(),
                              {"--tls", "explicit", "--cert", certificates->Pem("host"), "--key",
                               certificates->Key("host")});
        ftp.CAFile = certificates->Pem("ca");
    }
    HostEmulator host(config);
    ftp.Host = "127.0.0.1";
    ftp.Port = host.Port();
    ftp.UserID = host.User();
    ftp.Password = host.Password();
    ftp.Security = c.security;
    ftp.DataConnection = TDataConnectionMode::Active;
    ftp.Connect();
    ftp.Mode(2);
    const std::string bytes = RandomBytes(100000, 11);
    const auto file = WriteFile(local.Path() / "upload.svf", bytes);

    // Another program on this machine, at 127.0.0.2, connects to the announced port as soon
    // as STOR goes out, before the host can.
    int stranger = -1;
    std::string listenerAddress;
    std::uint16_t listenerPort = 0;
    std::vector<std::string> statuses;
    ftp.ReportLevel = 8;
    ftp.OnStatus = [&](TComponent*, const std::string& status) {
        statuses.push_back(status);
        if (status.rfind("STOR ", 0) != 0 || stranger >= 0)
            return;
        listenerAddress = ftp.FDataConnection->LocalAddressText();
        listenerPort = ftp.FDataConnection->LocalPort();
        stranger = test_support::ConnectFrom("127.0.0.2", "127.0.0.1", listenerPort);
    };
    EXPECT_NO_THROW(ftp.Upload(file.string(), "KDXSUPPT/UPLOAD"));
    ftp.OnStatus = nullptr;

    ASSERT_GE(stranger, 0);
    EXPECT_TRUE(test_support::RefusedUnanswered(stranger))
        << "the stranger's connection was not refused";
    test_support::CloseSocket(stranger);
    EXPECT_THAT(statuses, ::testing::Contains("Refused a data connection from 127.0.0.2"));
    EXPECT_EQ(listenerAddress, ftp.LocalAddressText());
    EXPECT_EQ(test_support::Sha256Hex(host.StoredFile("KDXSUPPT", "UPLOAD").value_or("")),
              test_support::Sha256Hex(bytes));
    EXPECT_THAT(DataCommands(host), ElementsAreArray({"PORT", "STOR"}));
    const std::vector<std::string> commands = host.Commands();
    EXPECT_THAT(commands, ::testing::Contains("PORT 127,0,0,1" + FormatPortString(listenerPort)));
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, StrangerOnThePort,
                         ::testing::Values(StrangerCase{"Plain", TFtpSecurity::None},
                                           StrangerCase{"ExplicitTls", TFtpSecurity::ExplicitTls}),
                         [](const auto& info) { return std::string(info.param.name); });

struct AborCase {
    const char* name;
    const char* aborReply; // empty: never answered
    const char* message;
};

void PrintTo(const AborCase& c, std::ostream* os) {
    *os << c.name;
}

class PendingStore : public test_support::FtpClientFixture,
                     public ::testing::WithParamInterface<AborCase> {};

TEST_P(PendingStore, HostThatDoesNotEndItClosesTheConnection) {
    const AborCase& c = GetParam();
    peer.LogOn().Reply("200 PORT ok\r\n").Reply("150 Opening data connection\r\n");
    if (*c.aborReply != '\0')
        peer.Reply(c.aborReply);
    peer.AwaitClientClose();
    test_support::TemporaryDirectory dir;
    const auto file = WriteFile(dir.Path() / "f.svf", "data");
    ftp.DataConnection = TDataConnectionMode::Auto;
    ftp.ConnectBackTimeOut = 100;
    ftp.AbortReplyTimeOut = 300;
    int fallbacks = 0;
    ftp.OnPassiveFallback = [&](TObject*) { ++fallbacks; };
    StartAndLogOn();
    try {
        ftp.Upload(file.string(), "F");
        ADD_FAILURE() << "the upload succeeded";
    } catch (const platform::Exception& error) {
        EXPECT_EQ(std::string(error.what()), c.message);
    }
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(fallbacks, 0);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
    EXPECT_FALSE(peer.DataConnectionMade());
}

INSTANTIATE_TEST_SUITE_P(AborReplies, PendingStore,
                         ::testing::Values(AborCase{"Refused", "502 ABOR not implemented.\r\n",
                                                    "502 ABOR not implemented.\r\n"},
                                           AborCase{"Unanswered", "", "Connection Timed out"}),
                         [](const auto& info) { return std::string(info.param.name); });

class PassiveStore : public test_support::FtpClientFixture {};

TEST_F(PassiveStore, ConnectionRefusedAfterTheHostTookStorClosesTheConnection) {
    // STOR goes out while the data connection is still being made; when that connection then
    // fails, the host waits for data that never comes, and its reply must not be read later.
    std::uint16_t port = 0;
    const int holder = test_support::BindLoopback(port); // bound, never listening: refused
    peer.LogOn()
        .Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ")\r\n")
        .Reply("150 Sending file\r\n")
        .AwaitClientClose();
    test_support::TemporaryDirectory dir;
    const auto file = WriteFile(dir.Path() / "f.svf", "data");
    ftp.DataConnection = TDataConnectionMode::Passive;
    StartAndLogOn();
    try {
        ftp.Upload(file.string(), "F");
        ADD_FAILURE() << "the upload succeeded";
    } catch (const ESockError& error) {
        EXPECT_EQ(error.Kind(), SockErrorKind::Refused);
    }
    test_support::CloseSocket(holder);
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
    EXPECT_THAT(CommandsAfterLogOn(), ElementsAreArray({"PASV\r\n", "STOR F\r\n"}));
}

TEST_F(DataConnectionTest, PassiveGoesToTheAddressTheControlConnectionReachedNotTheName) {
    // The name stops resolving after the log-on: a data connection that looked it up again
    // would fail.
    HostEmulator host(HostEmulatorConfig{"QSECOFR", "Secret1", {"--listen", "::1"}});
    platform::SocketAddress v6;
    v6.family = platform::AddressFamily::IPv6;
    v6.bytes[15] = 1;
    platform::SetHostAddressesForTesting("as400.passive.test", {v6});
    ftp.Host = "as400.passive.test";
    ftp.Port = host.Port();
    ftp.UserID = host.User();
    ftp.Password = host.Password();
    ftp.DataConnection = TDataConnectionMode::Passive;
    ftp.Connect();
    platform::SetHostAddressesForTesting("as400.passive.test", {});
    const auto file = WriteFile(local.Path() / "p.svf", "passive bytes");
    ftp.Upload(file.string(), "KDXSUPPT/P");
    EXPECT_EQ(host.StoredFile("KDXSUPPT", "P").value_or(""), "passive bytes");
}

} // namespace
