// Whole apply runs that depend on how the host is reached: a host that cannot connect back
// (Auto goes passive and the run completes, Active ends at the bound; also over TLS), an
// IPv6 host typed in brackets, and a host name whose first address cannot be reached.
#include "tests/installer/apply_fixture.h"
#include "tests/support/test_certificates.h"

#include "installer/procedure/apply_texts.h"
#include "platform/host_lookup.h"
#include "tests/support/sha256.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <optional>

namespace {

using installer::ApplyField;
using installer::DataConnectionChoice;
using test_support::ApplyTest;
using test_support::LockCheckBytes;
using test_support::Sha256Hex;
using test_support::UpdateBytes;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;

const char kSuccess[] = "Update MYUPD successfully applied.";

// The commands that open data connections, by their first word.
std::vector<std::string> DataCommands(const std::vector<std::string>& commands) {
    std::vector<std::string> words;
    for (const std::string& command : commands) {
        const std::string word = command.substr(0, command.find(' '));
        if (word == "PORT" || word == "EPRT" || word == "PASV" || word == "EPSV" || word == "ABOR")
            words.push_back(word);
    }
    return words;
}

struct NoConnectBackCase {
    const char* name;
    const char* address;           // where the host listens
    const char* connectBack;       // the emulator's fault
    std::vector<std::string> data; // DataCommands of the run
    bool tls = false;              // explicit TLS, the host's authority given as CAFile
};

void PrintTo(const NoConnectBackCase& c, std::ostream* os) {
    *os << c.name << " (" << c.address << ", connect back " << c.connectBack
        << (c.tls ? ", TLS)" : ")");
}

class NoConnectBack : public ApplyTest, public ::testing::WithParamInterface<NoConnectBackCase> {
protected:
    void StartFaultyHost() {
        const NoConnectBackCase& c = GetParam();
        std::vector<std::string> options = {"--listen", c.address, "--connect-back", c.connectBack};
        if (c.tls) {
            certificates.emplace();
            options.insert(options.end(), {"--tls", "explicit", "--cert", certificates->Pem("host"),
                                           "--key", certificates->Key("host")});
        }
        StartHost(options);
        StandardDescriptor();
        Load();
        FillFields();
        if (c.tls) {
            ui.connection.security = installer::SecurityChoice::Tls;
            ui.connection.caFile = certificates->Pem("ca");
        }
        const std::string address = c.address;
        if (address.find(':') != std::string::npos)
            ui.fields[ApplyField::SystemEdt] = "[" + address + "]:" + std::to_string(host->Port());
    }

    std::optional<test_support::TestCertificates> certificates;
};

TEST_P(NoConnectBack, AutoCompletesTheRunPassively) {
    StartFaultyHost();
    ui.connection.dataConnection = DataConnectionChoice::Auto;
    // Ten seconds in use; the host that never connects need not be waited for that long here.
    ftp->ConnectBackTimeOut = 500;
    Apply();

    EXPECT_EQ(std::count(ui.log.begin(), ui.log.end(), installer::kPassiveFallback), 1);
    EXPECT_TRUE(Logged(kSuccess));
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_EQ(Sha256Hex(host->StoredFile("KDXSUPPT", "W_CHKLCKSF").value_or("")),
              Sha256Hex(LockCheckBytes()));
    EXPECT_EQ(Sha256Hex(host->StoredFile("KDXSUPPT", "MYUPD").value_or("")),
              Sha256Hex(UpdateBytes()));
    EXPECT_EQ(DataCommands(HostCommands()), GetParam().data);
}

TEST_P(NoConnectBack, ActiveEndsAtTheBoundWithAClearMessage) {
    StartFaultyHost();
    ui.connection.dataConnection = DataConnectionChoice::Active;
    procedure->WaitBoundMs = 500;
    Apply();

    EXPECT_THAT(reports, ::testing::ElementsAre("The AS/400 did not open the data connection for " +
                                                Package("W_CHKLCKSF.SVF").string() +
                                                " within 500 milliseconds."));
    EXPECT_THAT(ui.log, Not(Contains(installer::kPassiveFallback)));
    EXPECT_FALSE(Logged(kSuccess));
    EXPECT_FALSE(ftp->Connected);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, NoConnectBack,
    ::testing::Values(
        NoConnectBackCase{"RefusedV4", "127.0.0.1", "refused", {"PORT", "PASV", "PASV"}},
        NoConnectBackCase{"NeverV6", "::1", "never", {"EPRT", "ABOR", "EPSV", "EPSV"}},
        // Over TLS STOR's first reply comes before the connection back, which is then
        // awaited with the same bound.
        NoConnectBackCase{
            "NeverOverTls", "127.0.0.1", "never", {"PORT", "ABOR", "PASV", "PASV"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplyTest, HostNameWhoseFirstAddressRefusesIsReachedAtTheNextAsTyped) {
    // The host listens on 127.0.0.1 only; the name gives ::1 first.
    StartHost();
    platform::SocketAddress v6;
    v6.family = platform::AddressFamily::IPv6;
    v6.bytes[15] = 1;
    platform::SocketAddress v4;
    v4.bytes = {127, 0, 0, 1};
    platform::SetHostAddressesForTesting("as400.apply.test", {v6, v4});
    StandardDescriptor();
    Load();
    FillFields();
    const std::string typed = "as400.apply.test:" + std::to_string(host->Port());
    ui.fields[ApplyField::SystemEdt] = typed;
    ui.connection.dataConnection = DataConnectionChoice::Passive;
    Apply();
    platform::SetHostAddressesForTesting("as400.apply.test", {});

    EXPECT_TRUE(Logged("Connecting to: " + typed));
    EXPECT_TRUE(Logged(kSuccess));
    EXPECT_EQ(DataCommands(HostCommands()), (std::vector<std::string>{"PASV", "PASV"}));
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), UpdateBytes());
}

} // namespace
