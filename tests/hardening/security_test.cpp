// Security properties of a whole Apply: the password shows up nowhere but in the PASS
// command, even with every status reported and every event assigned; a line break in any
// field of the window or any value of the descriptor never puts a second command on the
// wire; and the remembered settings are replaced in one step, so a process killed while
// writing them leaves the old file or the new one, never a mixture.
#include "tests/hardening/installer_run.h"

#include "installer/procedure/apply_texts.h"
#include "platform/exception.h"
#include "tests/support/helper_process.h"

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace {

using test_support::InstallerRun;
using test_support::ReadFile;
namespace fs = std::filesystem;
using installer::ApplyField;

class SecurityRun : public InstallerRun {
protected:
    // Reports everything the client can report, and keeps every text that passes through
    // an event, so none of it can hide the password.
    void ListenToEverything() {
        ftp->ReportLevel = 8;
        ftp->OnStatus = [this](TComponent*, const std::string& status) { seen.push_back(status); };
        ftp->OnError = [this](TComponent*, std::uint16_t, const std::string& message) {
            seen.push_back(message);
        };
        const auto note = [this](const std::string& what) {
            return [this, what](TObject*) { seen.push_back(what); };
        };
        ftp->OnConnect = note("connect");
        ftp->OnDisconnect = note("disconnect");
        ftp->OnPacketSent = note("packet sent");
        ftp->OnPacketRecvd = note("packet received");
        ftp->OnTransactionStart = note("transaction start");
        const auto stop = ftp->OnTransactionStop;
        ftp->OnTransactionStop = [this, stop](TObject* sender) {
            seen.push_back("transaction stop");
            stop(sender);
        };
        const auto failed = ftp->OnConnectionFailed;
        ftp->OnConnectionFailed = [this, failed](TObject* sender) {
            seen.push_back("connection failed");
            failed(sender);
        };
        ftp->OnHostResolved = [this](TComponent*) { seen.push_back("host resolved"); };
        ftp->OnInvalidHost = [this](bool&) { seen.push_back("invalid host"); };
        ftp->OnConnectionRequired = [this](bool&) { seen.push_back("connection required"); };
        ftp->OnAuthenticationNeeded = [this](bool&) { seen.push_back("authentication needed"); };
        ftp->OnAuthenticationFailed = [this](bool&) { seen.push_back("authentication failed"); };
        ftp->OnSuccess = [this](TCmdType type) {
            seen.push_back("success " + std::to_string(type));
        };
        ftp->OnFailure = [this](bool&, TCmdType type) {
            seen.push_back("failure " + std::to_string(type)); // Handled stays false
        };
        ftp->OnUnSupportedFunction = [this](TCmdType) { seen.push_back("unsupported"); };
        ftp->OnListItem = [this](const std::string& item) { seen.push_back(item); };
    }

    void ExpectPasswordOnlyInPass(const std::string& password) {
        for (const std::string& text : seen)
            EXPECT_EQ(text.find(password), std::string::npos) << "status or event: " << text;
        for (const std::string& line : ui.log)
            EXPECT_EQ(line.find(password), std::string::npos) << "log line: " << line;
        for (const std::string& text : reports)
            EXPECT_EQ(text.find(password), std::string::npos) << "error report: " << text;
        for (const std::string& text : ui.messages)
            EXPECT_EQ(text.find(password), std::string::npos) << "message: " << text;
        EXPECT_EQ(ftp->Status.find(password), std::string::npos);
        for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
            if (entry.is_regular_file()) {
                EXPECT_EQ(ReadFile(entry.path()).find(password), std::string::npos)
                    << "file: " << entry.path();
            }
        }
        int passCommands = 0;
        for (const std::string& command : host->Commands()) {
            if (command.rfind("PASS ", 0) == 0)
                ++passCommands;
            else
                EXPECT_EQ(command.find(password), std::string::npos) << "command: " << command;
        }
        EXPECT_EQ(passCommands, 1);
    }

    std::vector<std::string> seen;
};

TEST_F(SecurityRun, PasswordOfACompleteRunAppearsOnlyInThePassCommand) {
    StartHost();
    StandardDescriptor();
    Load();
    ListenToEverything();
    Apply();
    ASSERT_TRUE(Logged("Update MYUPD successfully applied."));
    ASSERT_FALSE(seen.empty());
    ExpectPasswordOnlyInPass(host->Password());
}

TEST_F(SecurityRun, RejectedPasswordAppearsOnlyInThePassCommand) {
    StartHost({"--fail-install", "CPF9898 Install failed."});
    StandardDescriptor();
    Load();
    const std::string wrong = "Wr0ngPa55word";
    ui.fields[ApplyField::PassEdt] = wrong;
    ListenToEverything();
    Apply();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Logged(installer::kConnectionFailed));
    ExpectPasswordOnlyInPass(wrong);
}

// --- line breaks in the operator's fields and the descriptor's values ---

struct Injection {
    const char* name;
    ApplyField field;          // the field that carries the payload, or ...
    const char* descriptorKey; // ... the descriptor key (when not empty)
};

void PrintTo(const Injection& c, std::ostream* os) {
    *os << c.name;
    if (*c.descriptorKey != '\0')
        *os << " (descriptor key " << c.descriptorKey << ")";
}

class InjectionRun : public InstallerRun, public ::testing::WithParamInterface<Injection> {};

TEST_P(InjectionRun, NeverPutsASecondCommandOnTheWire) {
    StartHost();
    const std::string payload = "\r\nDELE KDXSUPPT/W_CHKLCKSF\r\nRCMD DLTLIB QGPL";
    std::string defaults = "Update=MYUPD\r\nFilename=MYUPD.SVF\r\nLock1=APPLIB/ORDERS\r\n"
                           "Type1=*FILE\r\n";
    const std::string key = GetParam().descriptorKey;
    if (!key.empty()) {
        // A profile line cannot hold LF; a lone CR or a NUL is what a value can carry.
        std::string value = "X\rDELE KDXSUPPT/W_CHKLCKSF";
        value += std::string("\0RCMD DLTLIB QGPL", 17);
        defaults = key + "=" + value + "\r\n" + defaults;
    }
    DescriptorBytes("[Defaults]\r\n" + defaults);
    Load();
    if (key.empty())
        ui.fields[GetParam().field] += payload;
    Apply();
    for (const std::string& command : host->Commands()) {
        std::string upper = command;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_EQ(upper.find("DELE"), std::string::npos) << command;
        EXPECT_EQ(upper.find("DLTLIB"), std::string::npos) << command;
        EXPECT_EQ(command.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << command;
    }
    EXPECT_FALSE(Logged("Update MYUPD successfully applied."));
}

INSTANTIATE_TEST_SUITE_P(
    Hardening, InjectionRun,
    ::testing::Values(Injection{"IpAddressField", ApplyField::SystemEdt, ""},
                      Injection{"UserIdField", ApplyField::UserIdEdt, ""},
                      Injection{"PasswordField", ApplyField::PassEdt, ""},
                      Injection{"TargetLibraryField", ApplyField::TargetLibEdt, ""},
                      Injection{"UpdateValue", ApplyField::SystemEdt, "Update"},
                      Injection{"SupportLibraryValue", ApplyField::SystemEdt, "SPTLIB"},
                      Injection{"LockValue", ApplyField::SystemEdt, "Lock1"},
                      Injection{"TypeValue", ApplyField::SystemEdt, "Type1"}),
    [](const ::testing::TestParamInfo<Injection>& info) { return info.param.name; });

// --- atomic replacement of the remembered settings ---

// The file as one complete write left it: "[System]", then IP of one repeated small
// letter, then (after the second write of a round) User of one repeated capital. Returns
// an empty text when it is, or what is wrong with it.
std::string WholeSettingsProblem(const std::string& bytes, std::size_t size) {
    const auto run = [&bytes](std::size_t at, char low, char high, std::size_t length) {
        if (at + length > bytes.size() || bytes[at] < low || bytes[at] > high)
            return false;
        return bytes.find_first_not_of(bytes[at], at) == at + length;
    };
    const std::string head = "[System]\nIP=";
    if (bytes.compare(0, head.size(), head) != 0)
        return "no [System] IP line at the start";
    std::size_t at = head.size();
    if (!run(at, 'a', 'z', size) || bytes.compare(at + size, 1, "\n") != 0)
        return "the IP value is cut or mixed";
    at += size + 1;
    if (at == bytes.size())
        return "";
    if (bytes.compare(at, 5, "User=") != 0)
        return "something other than User after IP";
    at += 5;
    if (!run(at, 'A', 'Z', size) || at + size + 1 != bytes.size() || bytes.back() != '\n')
        return "the User value is cut or mixed";
    return "";
}

TEST(RememberedSettingsAtomicity, AWriterKilledAtRandomMomentsLeavesAWholeFile) {
    test_support::TemporaryDirectory directory;
    const fs::path settings = directory.Path() / "config";
    const fs::path file = settings / "KDXInst.Ini";
    constexpr std::size_t kSize = 512 * 1024;
    const unsigned seed =
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    const QStringList arguments = {QString::fromStdString(settings.string()),
                                   QString::number(kSize)};
    int checked = 0;
    for (int round = 0; round < 25; ++round) {
        QProcess writer;
        test_support::InheritOnlyStandardStreams(writer);
        writer.setProcessChannelMode(QProcess::ForwardedChannels);
        writer.start(SETTINGS_WRITER_PATH, arguments);
        ASSERT_TRUE(writer.waitForStarted()) << writer.errorString().toStdString();
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 80));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished());
        ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit)
            << "the writer ended by itself, exit code " << writer.exitCode();
        if (!fs::exists(file))
            continue; // killed before its first write was in place
        const std::string bytes = ReadFile(file);
        ASSERT_EQ(WholeSettingsProblem(bytes, kSize), "")
            << "round " << round << " (seed " << seed << "), a file of " << bytes.size()
            << " bytes";
        ++checked;
    }
    EXPECT_GT(checked, 0) << "the writer never completed a write; nothing was checked";
    // A writer killed between writing its temporary file and renaming it may leave that
    // file beside the settings; it is never the settings file itself, so it is harmless.
}

} // namespace
