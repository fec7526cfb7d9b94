// apply-update-cli as scripts run it, against the host emulator: the exit status and the
// summary of every way a run can end, the command line it refuses, SIGTERM in the middle of
// an upload, and the password kept out of every output and file.
#include "tests/cli/cli_fixture.h"
#include "tests/support/test_certificates.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

using namespace test_support;

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kStopped[] = "The Apply Update process was stopped by the operator.";
constexpr char kCheckPrevious[] = "check previous messages to determine the cause.";

struct ExitCase {
    const char* name;
    std::vector<std::string> hostOptions;
    // Changes the package or the call before the run.
    std::function<void(const std::filesystem::path& package, CliCall& call, int refusingPort)>
        prepare;
    int exitStatus;
    const char* outcome;
    const char* failedStep;  // "" for none
    const char* lastLogLine; // "" when nothing is logged
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

const ExitCase kExitCases[] = {
    {"Applied",
     {},
     [](const std::filesystem::path&, CliCall& call, int) {
         // Files of the same names in the working folder are not the package's.
         test_support::WriteFile(call.workingDirectory + "/W_CHKLCKSF.SVF", "stray");
         test_support::WriteFile(call.workingDirectory + "/MYUPD.SVF", "stray");
     },
     0,
     "applied",
     "",
     "The Apply Update process is complete."},
    {"ReadmeRead",
     {},
     [](const std::filesystem::path& package, CliCall& call, int) {
         test_support::WriteFile(package / "Readme.txt", "Read me.\r\n");
         call.arguments.push_back("--readme-read");
     },
     0,
     "applied",
     "",
     "The Apply Update process is complete."},
    {"LockedObject",
     {"--locked", "APPLIB/ORDERS"},
     nullptr,
     1,
     "locked",
     "check-locks",
     kCheckPrevious},
    {"FailedInstall",
     {"--fail-install", "CPF9898: Product library QGPL is in use."},
     nullptr,
     1,
     "install-failed",
     "install",
     kCheckPrevious},
    {"RefusedCommand",
     {"--reply-to", "CHGJOB", "550 Not allowed."},
     nullptr,
     1,
     "failed",
     "change-job-log",
     "Changing job to log errors"},
    {"WrongPassword",
     {},
     [](const std::filesystem::path&, CliCall& call, int) {
         call.environment["APPLY_UPDATE_PASSWORD"] = "NotIt";
     },
     3,
     "connect-failed",
     "connect",
     "Error connection attempt failed.  Check AS/400 IP address, and User ID / Password"},
    {"NoHostListening",
     {},
     [](const std::filesystem::path&, CliCall& call, int refusingPort) {
         call.arguments[3] = HostField(refusingPort);
     },
     3,
     "connect-failed",
     "connect",
     "Error connection attempt failed.  Check AS/400 IP address, and User ID / Password"},
    {"BadPackage",
     {},
     [](const std::filesystem::path& package, CliCall&, int) {
         std::filesystem::remove(package / "W_CHKLCKSF.SVF");
     },
     2,
     "not-started",
     "",
     ""},
    {"DescriptorNamesAFileOutsideThePackage",
     {},
     [](const std::filesystem::path& package, CliCall&, int) {
         std::ofstream(package / "update.Ini", std::ios::app) << "\r\nCAFile=../ca.pem\r\n";
     },
     2,
     "not-started",
     "",
     ""},
    {"TargetLibraryIsNoName",
     {},
     [](const std::filesystem::path&, CliCall& call, int) {
         call.arguments.insert(call.arguments.end(), {"--target-library", "QGPL) REPLACE(*YES"});
     },
     2,
     "not-started",
     "",
     ""},
    {"ReadmeNotRead",
     {},
     [](const std::filesystem::path& package, CliCall&, int) {
         test_support::WriteFile(package / "Readme.txt", "Read me.\r\n");
     },
     2,
     "not-started",
     "",
     ""},
};

class CliExitTest : public ::testing::TestWithParam<ExitCase> {
protected:
    test_support::TemporaryDirectory dir;
};

TEST_P(CliExitTest, ExitStatusAndSummarySayHowTheRunEnded) {
    const ExitCase& c = GetParam();
    WriteStandardPackage(dir / "pkg");
    const auto host = StartHost(c.hostOptions);
    const RefusingPort refusing;
    CliCall call = PackageCall(dir, HostField(host->Port()), host->Password());
    if (c.prepare)
        c.prepare(dir / "pkg", call, refusing.Port());

    const CliRun run = RunCli(call);

    ASSERT_FALSE(run.hung);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
    const QJsonObject summary = Summary(run);
    EXPECT_EQ(summary["outcome"].toString().toStdString(), c.outcome);
    EXPECT_EQ(summary["failed_step"].toString().toStdString(), c.failedStep);
    EXPECT_EQ(summary["update"].toString(), "MYUPD");
    EXPECT_EQ(summary["secured"], QJsonValue(false));
    const std::vector<std::string> log = run.LogLines();
    EXPECT_EQ(log.empty() ? "" : log.back(), c.lastLogLine);
    if (c.exitStatus == 0) {
        EXPECT_EQ(host->StoredFile("KDXSUPPT", "W_CHKLCKSF"), kLockCheckBytes);
        EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), kUpdateBytes);
        EXPECT_EQ(summary["bytes_sent"].toInteger(),
                  static_cast<qint64>(kLockCheckBytes.size() + kUpdateBytes.size()));
        // Plain FTP says once that the password crossed the network in clear.
        EXPECT_EQ(run.err, "apply-update-cli: warning: not secured: The password and the update "
                           "cross the network in clear. Use --security tls where the host has a "
                           "certificate.\n");
    } else {
        EXPECT_NE(run.err, "");
        // A host's reply ends with its line end; that makes no empty error line.
        EXPECT_THAT(run.err, Not(HasSubstr(": \n"))) << run.err;
    }
    if (c.exitStatus == 2) { // the package is checked before anything goes to the host
        EXPECT_THAT(host->Commands(), ::testing::IsEmpty());
    }
    // An unattended run leaves the window's remembered settings alone.
    EXPECT_FALSE(std::filesystem::exists(dir / "config/KDXInst.Ini"));
}

INSTANTIATE_TEST_SUITE_P(EveryEnd, CliExitTest, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliTlsTest, CertificateThatNoAuthorityVouchesForIsTrustedOnlyByItsFingerprint) {
    test_support::TemporaryDirectory dir;
    const test_support::TestCertificates certificates;
    WriteStandardPackage(dir / "pkg");
    const auto host = StartHost({"--tls", "explicit", "--cert", certificates.Pem("self-signed"),
                                 "--key", certificates.Key("self-signed")});
    CliCall call = PackageCall(dir, HostField(host->Port()), host->Password());
    call.arguments.insert(call.arguments.end(), {"--security", "tls"});

    const CliRun refused = RunCli(call);
    EXPECT_EQ(refused.exitStatus, 3);
    EXPECT_THAT(refused.err,
                HasSubstr("--trusted-fingerprint " + certificates.Fingerprint("self-signed")));
    EXPECT_THAT(host->Commands(), ::testing::ElementsAre("AUTH TLS"));

    call.arguments.insert(call.arguments.end(),
                          {"--trusted-fingerprint", certificates.Fingerprint("self-signed")});
    const CliRun trusted = RunCli(call);
    EXPECT_EQ(trusted.exitStatus, 0) << trusted.err;
    EXPECT_THAT(trusted.LogLines(), Contains(::testing::StartsWith("Secured with TLS 1.")));
    EXPECT_EQ(Summary(trusted)["secured"], QJsonValue(true));
    EXPECT_EQ(trusted.err, "");
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), kUpdateBytes);
    EXPECT_FALSE(std::filesystem::exists(dir / "config/KDXInst.Ini"));
}

struct DataConnectionCase {
    const char* name;
    const char* choice;
    long fallbackLines;
    const char* firstOpening; // the first upload's opening command
};

void PrintTo(const DataConnectionCase& c, std::ostream* os) {
    *os << c.name << " (--data-connection " << c.choice << ")";
}

class CliDataConnectionTest : public ::testing::TestWithParam<DataConnectionCase> {};

TEST_P(CliDataConnectionTest, ChoiceReachesTheClientWhereTheHostCannotConnectBack) {
    const DataConnectionCase& c = GetParam();
    test_support::TemporaryDirectory dir;
    WriteStandardPackage(dir / "pkg");
    const auto host = StartHost({"--listen", "::1", "--connect-back", "refused"});
    CliCall call = PackageCall(dir, "[::1]:" + std::to_string(host->Port()), host->Password());
    call.arguments.insert(call.arguments.end(), {"--data-connection", c.choice});

    const CliRun run = RunCli(call);

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const auto lines = run.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "The AS/400 could not connect back; using passive data connections."),
              c.fallbackLines);
    const auto commands = host->Commands();
    const auto opening = std::find_if(commands.begin(), commands.end(), [](const std::string& s) {
        return s.rfind("EPRT", 0) == 0 || s.rfind("EPSV", 0) == 0;
    });
    ASSERT_NE(opening, commands.end());
    EXPECT_EQ(opening->substr(0, 4), c.firstOpening);
}

INSTANTIATE_TEST_SUITE_P(Choices, CliDataConnectionTest,
                         ::testing::Values(DataConnectionCase{"Auto", "auto", 1, "EPRT"},
                                           DataConnectionCase{"Passive", "passive", 0, "EPSV"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliStopTest, SigtermMidUploadStopsTheRunWithStatusFour) {
    test_support::TemporaryDirectory dir;
    WriteStandardPackage(dir / "pkg");
    // The host never opens the data connection: the upload waits until it is stopped.
    const auto host = StartHost({"--no-data-connect"});
    CliCall call = PackageCall(dir, HostField(host->Port()), host->Password());
    call.terminateWhen = [](const std::string& out) {
        return out.find("Transferring lock check...\n") != std::string::npos;
    };

    const CliRun run = RunCli(call);

    ASSERT_FALSE(run.hung);
    EXPECT_TRUE(run.terminated);
    EXPECT_EQ(run.exitStatus, 4);
    EXPECT_EQ(run.LogLines().back(), kStopped);
    EXPECT_THAT(run.err, HasSubstr(kStopped));
    EXPECT_EQ(Summary(run)["failed_step"].toString(), "transfer-lock-check");
    // A host in the middle of a transfer is not asked to log off.
    EXPECT_THAT(host->Commands(), Not(Contains("QUIT")));
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* password; // in the environment; null for none
    const char* complaint;
    // The permissions of a password file "pw" made in the working folder; 0 for none.
    std::filesystem::perms passwordFileMode = std::filesystem::perms::none;
};

// "Hunter2x" stands for a secret typed where it does not belong; it must never be echoed.
void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

const UsageCase kUsageCases[] = {
    {"PasswordOption", {"--password", "Hunter2x"}, "Secret1", "--password is refused"},
    {"PasswordOptionWithValue", {"--password=Hunter2x"}, "Secret1", "--password is refused"},
    {"MistypedOption", {"--pasword=Hunter2x"}, "Secret1", "unknown option --pasword"},
    {"StrayArgument", {"Hunter2x"}, "Secret1", "is not an option"},
    {"NameFormat", {"--name-format", "7"}, "Secret1", "--name-format takes none, 0 or 1"},
    {"Security", {"--security", "ssl"}, "Secret1", "--security takes none, tls or implicit-tls"},
    {"DataConnection",
     {"--data-connection=port"},
     "Secret1",
     "--data-connection takes auto, active or passive"},
    {"TwoPasswordSources",
     {"--password-file", "pw", "--password-stdin"},
     "Secret1",
     "give the password one way"},
    {"NoPassword", {}, nullptr, "No password"},
    {"UserOutsideLatin1",
     {"--user", "J\xc3\xbcrgen\xe2\x82\xac"},
     "Secret1",
     "The User ID contains a character that cannot be sent to the AS/400."},
    {"PasswordOutsideLatin1",
     {},
     "Hunter2x\xe2\x82\xac",
     "The Password contains a character that cannot be sent to the AS/400."},
    {"MalformedFingerprint",
     {"--trusted-fingerprint", "AA:BB:CC"},
     "Secret1",
     "--trusted-fingerprint takes a SHA-256 fingerprint"},
    {"PortOutOfRange",
     {"--host", "127.0.0.1:70000"},
     "Secret1",
     "must be a number from 1 to 65535"},
    {"PasswordFileEveryoneCanRead",
     {"--password-file", "pw"},
     nullptr,
     "The password file pw can be read by others than its owner; make it private (chmod 600 "
     "pw).",
     std::filesystem::perms(0644)},
    {"PasswordFileItsGroupCanRead",
     {"--password-file", "pw"},
     nullptr,
     "The password file pw can be read by others than its owner",
     std::filesystem::perms(0640)},
};

class CliUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageTest, RefusedBeforeConnectingWithStatusTwo) {
    const UsageCase& c = GetParam();
    test_support::TemporaryDirectory dir;
    WriteStandardPackage(dir / "pkg");
    // Nothing listens: a run that got as far as connecting would end with status 3.
    const RefusingPort refusing;
    CliCall call = PackageCall(dir, HostField(refusing.Port()), c.password ? c.password : "");
    if (!c.password)
        call.environment.erase("APPLY_UPDATE_PASSWORD");
    call.arguments.insert(call.arguments.end(), c.arguments.begin(), c.arguments.end());
    if (c.passwordFileMode != std::filesystem::perms::none) {
        test_support::WriteFile(dir / "pw", "Hunter2x\n");
        std::filesystem::permissions(dir / "pw", c.passwordFileMode);
    }

    const CliRun run = RunCli(call);

    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_THAT(run.err, HasSubstr(c.complaint));
    EXPECT_THAT(run.out + run.err, Not(HasSubstr("Hunter2x")));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, CliUsageTest, ::testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct SecretCase {
    const char* name;
    const char* source; // "env", "file" or "stdin"
    bool right;         // the host's password, or a wrong one
};

void PrintTo(const SecretCase& c, std::ostream* os) {
    *os << c.name;
}

const SecretCase kSecretCases[] = {
    {"Environment", "env", true},         {"File", "file", true},         {"Stdin", "stdin", true},
    {"WrongInEnvironment", "env", false}, {"WrongInFile", "file", false},
};

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliSecretTest : public ::testing::TestWithParam<SecretCase> {};

TEST_P(CliSecretTest, PasswordNeverInAnyOutputOrFile) {
    const SecretCase& c = GetParam();
    test_support::TemporaryDirectory dir;
    WriteStandardPackage(dir / "pkg");
    // A password with a character beyond ASCII: the host gets its Latin-1 byte.
    const std::string utf8 = c.right ? "S\xc3\xa9kret1" : "Wr\xc3\xb6ngSecret9";
    const std::string latin1 = c.right ? "S\xe9kret1" : "Wr\xf6ngSecret9";
    const auto host = StartHost({}, "S\xc3\xa9kret1");
    CliCall call = PackageCall(dir, HostField(host->Port()), "");
    call.environment.erase("APPLY_UPDATE_PASSWORD");
    const std::string source = c.source;
    std::filesystem::create_directories(dir / "secrets");
    if (source == "env") {
        call.environment["APPLY_UPDATE_PASSWORD"] = utf8;
    } else if (source == "file") {
        test_support::WriteFile(dir / "secrets/password", utf8 + "\n");
        std::filesystem::permissions(dir / "secrets/password", std::filesystem::perms(0600));
        call.arguments.insert(call.arguments.end(), {"--password-file", dir / "secrets/password"});
    } else {
        call.input = utf8 + "\n";
        call.arguments.push_back("--password-stdin");
    }

    const CliRun run = RunCli(call);

    EXPECT_EQ(run.exitStatus, c.right ? 0 : 3) << run.err;
    for (const std::string& form : {utf8, latin1}) {
        EXPECT_THAT(run.out, Not(HasSubstr(form)));
        EXPECT_THAT(run.err, Not(HasSubstr(form)));
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path())) {
            if (entry.is_regular_file() && entry.path().parent_path() != dir / "secrets") {
                EXPECT_THAT(ReadAll(entry.path()), Not(HasSubstr(form))) << entry.path();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EverySource, CliSecretTest, ::testing::ValuesIn(kSecretCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
