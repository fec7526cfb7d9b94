// Uploads against a hostile server: the data connection closed or reset part-way through
// the file in both modes, a server that promises a data connection and never opens it, a
// refusal after the data, and PASV replies that point elsewhere or hold no usable numbers.
// An upload that did not store the file must never end as a success, and whatever way it
// ends, no data connection and no held lock may stay behind.
#include "tests/hardening/hostile_client.h"

#include "platform/exception.h"
#include "tests/support/temporary_directory.h"

#include <fstream>

namespace {

using test_support::HostileClient;
using test_support::MessageOf;
using Lines = std::vector<std::string>;

class HostileUpload : public HostileClient {
protected:
    void SetUp() override {
        HostileClient::SetUp();
        ftp.OnFailure = nullptr;
        ScriptLogOn();
    }

    std::string WriteFile(const std::string& name, std::size_t size) {
        const auto path = directory.Path() / name;
        std::ofstream out(path, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 7 + 3);
        for (std::size_t written = 0; written < size; written += block.size())
            out.write(block.data(),
                      static_cast<std::streamsize>(std::min(block.size(), size - written)));
        return path.string();
    }

    // Runs the upload and returns how it ended: "success" or the error's message.
    std::string UploadOutcome(const std::string& file) {
        try {
            ftp.Upload(file, "REMOTE.SVF");
            return "success";
        } catch (const platform::Exception& error) {
            return error.Message();
        }
    }

    void ExpectNoSuccess() {
        EXPECT_EQ(std::count(events.begin(), events.end(), "Success:9"), 0)
            << "OnSuccess reported an upload that was not stored";
    }

    // Bigger than every buffer between the two ends, so the server's close or reset is
    // certain to meet data still on its way.
    static constexpr std::size_t kLargeFile = 16u << 20;
    test_support::TemporaryDirectory directory;
};

// --- the data connection breaks part-way ---

TEST_F(HostileUpload, ActiveDataConnectionClosedPartWayFailsTheUpload) {
    peer.Reply("200 PORT ok\r\n")
        .Reply("150 Opening data connection\r\n")
        .ConnectToPort()
        .ReceiveThenCloseData(64 * 1024)
        .Send("426 Connection closed; transfer aborted\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("big.svf", kLargeFile);
    StartAndLogOn();
    const std::string outcome = UploadOutcome(file);
    EXPECT_NE(outcome, "success");
    EXPECT_FALSE(outcome.empty());
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    EXPECT_LT(peer.ReceivedData().size(), kLargeFile);
}

TEST_F(HostileUpload, ActiveDataConnectionResetPartWayFailsTheUpload) {
    peer.Reply("200 PORT ok\r\n")
        .Reply("150 Opening data connection\r\n")
        .ConnectToPort()
        .ReceiveThenResetData(64 * 1024)
        .Send("426 Connection reset; transfer aborted\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("big.svf", kLargeFile);
    StartAndLogOn();
    const std::string outcome = UploadOutcome(file);
    EXPECT_NE(outcome, "success");
    EXPECT_FALSE(outcome.empty());
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    // The server's 426 after the reset is on its way; it must never become the reply of a
    // later command, so the control connection was closed.
    EXPECT_FALSE(ftp.Connected);
}

TEST_F(HostileUpload, PassiveDataConnectionClosedPartWayFailsTheUpload) {
    peer.Expect()
        .ListenPassive()
        .Send("227 Entering Passive Mode (127,0,0,1,{H},{L})\r\n")
        .AcceptPassive()
        .Reply("150 Opening data connection\r\n")
        .ReceiveThenCloseData(64 * 1024)
        .Send("426 Connection closed; transfer aborted\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("big.svf", kLargeFile);
    ftp.Passive = true;
    StartAndLogOn();
    const std::string outcome = UploadOutcome(file);
    EXPECT_NE(outcome, "success");
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
}

TEST_F(HostileUpload, PassiveDataConnectionResetPartWayFailsTheUpload) {
    peer.Expect()
        .ListenPassive()
        .Send("227 Entering Passive Mode (127,0,0,1,{H},{L})\r\n")
        .AcceptPassive()
        .Reply("150 Opening data connection\r\n")
        .ReceiveThenResetData(64 * 1024)
        .Send("426 Connection reset; transfer aborted\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("big.svf", kLargeFile);
    ftp.Passive = true;
    StartAndLogOn();
    const std::string outcome = UploadOutcome(file);
    EXPECT_NE(outcome, "success");
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    // The server's 426 after the reset is on its way; it must never become the reply of a
    // later command, so the control connection was closed.
    EXPECT_FALSE(ftp.Connected);
}

TEST_F(HostileUpload, DataConnectionClosedAfterAllDataButRefusedIsNoSuccess) {
    // The whole small file arrives, but the server then refuses it (a full disk).
    peer.Reply("200 PORT ok\r\n")
        .Reply("150 Opening data connection\r\n")
        .ConnectToPort()
        .ReceiveData()
        .Send("452 Insufficient storage space\r\n")
        .Reply("200 still here\r\n");
    const auto file = WriteFile("small.svf", 5000);
    StartAndLogOn();
    EXPECT_EQ(UploadOutcome(file), "452 Insufficient storage space\r\n");
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    EXPECT_EQ(peer.ReceivedData().size(), 5000u);
    ftp.DoCommand("NOOP");
    EXPECT_EQ(ftp.ReplyNumber, 200);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileUpload, PassiveRefusalAfterTheDataIsNoSuccess) {
    peer.Expect()
        .ListenPassive()
        .Send("227 Entering Passive Mode (127,0,0,1,{H},{L})\r\n")
        .AcceptPassive()
        .Reply("125 go ahead\r\n")
        .ReceiveData()
        .Send("452-Insufficient storage\r\n452 space in library\r\n")
        .Reply("200 still here\r\n");
    const auto file = WriteFile("small.svf", 5000);
    ftp.Passive = true;
    StartAndLogOn();
    EXPECT_EQ(UploadOutcome(file), "452-Insufficient storage\r\n");
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    ftp.DoCommand("NOOP");
    EXPECT_EQ(ftp.ReplyNumber, 200) << "the second line of the 452 was taken as NOOP's reply";
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

// --- the data connection never comes ---

TEST_F(HostileUpload, Stor150Then425WithoutConnectingBackEndsOnlyByACancel) {
    peer.Reply("200 PORT ok\r\n")
        .Reply("150 Opening data connection\r\n425 Can't open data connection\r\n")
        .AwaitClientClose();
    const auto file = WriteFile("small.svf", 5000);
    StartAndLogOn();
    // The client waits for the server to connect; only a cancel (the installer's bound or
    // the operator's Stop) ends that wait.
    TThreadTimer stop;
    stop.SetEnabled(false);
    stop.SetInterval(300);
    stop.SetOnTimer([this, &stop](TObject*) {
        stop.SetEnabled(false);
        ftp.Abort();
    });
    stop.SetEnabled(true);
    EXPECT_EQ(UploadOutcome(file), "Accepting Canceled");
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    EXPECT_FALSE(peer.DataConnectionMade());
    // The 425 waits unread: the connection is closed so that no later command takes it.
    EXPECT_FALSE(ftp.Connected);
}

// --- PASV replies ---

TEST_F(HostileUpload, PassiveReplyNamingAnotherAddressStillConnectsToHost) {
    // 192.0.2.1 is reserved for documentation: a client that went there would fail.
    peer.Expect()
        .ListenPassive()
        .Send("227 Entering Passive Mode (192,0,2,1,{H},{L})\r\n")
        .AcceptPassive()
        .Reply("150 go\r\n")
        .ReceiveData()
        .Send("226 stored\r\n");
    const auto file = WriteFile("small.svf", 3000);
    ftp.Passive = true;
    StartAndLogOn();
    EXPECT_EQ(UploadOutcome(file), "success");
    EXPECT_TRUE(peer.DataConnectionMade());
    EXPECT_EQ(peer.ReceivedData().size(), 3000u);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

TEST_F(HostileUpload, PassiveNumbersOutOfTheByteRangeAreTakenModulo65536) {
    // Neither number is held to 0..255: the port is low + high * 256 in 16 bits. Negative
    // and oversized numbers that still name the server's data port lead there.
    peer.Expect()
        .ListenPassive()
        .SendComputed([](std::uint16_t port) {
            const int high = port / 256 + 256 + 1; // 65536 more, and 256 more...
            const int low = port % 256 - 256;      // ...taken back here
            return "227 Entering Passive Mode (127,0,0,1," + std::to_string(high) + "," +
                   std::to_string(low) + ")\r\n";
        })
        .AcceptPassive()
        .Reply("150 go\r\n")
        .ReceiveData()
        .Send("226 stored\r\n");
    const auto file = WriteFile("small.svf", 3000);
    ftp.Passive = true;
    StartAndLogOn();
    EXPECT_EQ(UploadOutcome(file), "success");
    EXPECT_EQ(peer.ReceivedData().size(), 3000u);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
}

struct BadPassiveReply {
    const char* name;
    const char* reply;
    const char* message;
};

void PrintTo(const BadPassiveReply& c, std::ostream* os) {
    *os << c.name;
}

class HostilePassiveReply : public HostileUpload,
                            public ::testing::WithParamInterface<BadPassiveReply> {};

TEST_P(HostilePassiveReply, FailsTheConversionBeforeStorAndKeepsTheControlConnection) {
    peer.Reply(GetParam().reply).Reply("200 still here\r\n");
    const auto file = WriteFile("small.svf", 3000);
    ftp.Passive = true;
    StartAndLogOn();
    EXPECT_EQ(MessageOf<platform::EConvertError>([&] { ftp.Upload(file, "R.SVF"); }),
              GetParam().message);
    ExpectNoSuccess();
    ExpectNoUploadLeftBehind();
    ftp.DoCommand("NOOP");
    EXPECT_EQ(ftp.ReplyNumber, 200);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
    EXPECT_EQ(CommandsAfterLogOn(), (Lines{"PASV\r\n", "NOOP\r\n"}));
    EXPECT_FALSE(peer.DataConnectionMade());
}

INSTANTIATE_TEST_SUITE_P(
    Hardening, HostilePassiveReply,
    ::testing::Values(BadPassiveReply{"NoNumbers", "227 Entering Passive Mode\r\n",
                                      "'' is not a valid integer value"},
                      BadPassiveReply{"FiveNumbers", "227 Entering Passive Mode (127,0,0,1,4)\r\n",
                                      "'' is not a valid integer value"},
                      BadPassiveReply{"EmptyNumbers", "227 Entering Passive Mode (127,0,0,1,,)\r\n",
                                      "'' is not a valid integer value"},
                      BadPassiveReply{"Letters", "227 Entering Passive Mode (127,0,0,1,ab,cd)\r\n",
                                      "'cd' is not a valid integer value"},
                      BadPassiveReply{"HighNotANumber",
                                      "227 Entering Passive Mode (127,0,0,1,4x,1)\r\n",
                                      "'4x' is not a valid integer value"},
                      BadPassiveReply{"BeyondThirtyTwoBits",
                                      "227 Entering Passive Mode (127,0,0,1,99999999999,1)\r\n",
                                      "'99999999999' is not a valid integer value"},
                      BadPassiveReply{"SignOnly", "227 Entering Passive Mode (127,0,0,1,-,+)\r\n",
                                      "'+' is not a valid integer value"},
                      BadPassiveReply{"NulInNumber",
                                      "227 Entering Passive Mode (127,0,0,1,4,1\x01)\r\n",
                                      "'1\x01' is not a valid integer value"}),
    [](const ::testing::TestParamInfo<BadPassiveReply>& info) { return info.param.name; });

} // namespace
