#include "tests/hardening/installer_run.h"
#include "tests/support/hang_guard.h"

#include "platform/application_exception.h"
#include "platform/paths.h"
#include "socket/thread_timer.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace hardening {
namespace {

// Far beyond any run of these tests; only a fault gets near it.
constexpr int kRunLimitMs = 90000;

std::string SaveFileBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + i / 251) & 0xFF);
    return bytes;
}

} // namespace

std::string RecordingUi::FieldText(installer::ApplyField field) const {
    const auto found = fields.find(field);
    return found == fields.end() ? std::string() : found->second;
}

void RecordingUi::AddLine(const std::string& message, int blankLines) {
    for (int i = 0; i < blankLines; ++i)
        log.push_back(" ");
    log.push_back(message);
    if (onLine)
        onLine(message);
}

bool RecordingUi::FileExists(const std::string& path) const {
    return platform::FileExists(path);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void InstallerRun::SetUp() {
    package_ = directory_.Path() / "pkg";
    settings_ = directory_.Path() / "config";
    std::filesystem::create_directories(package_);
    platform::SetSettingsDirectory(settings_.string());
    platform::SetExceptionHandler(
        [this](const std::string& message) { reports.push_back(message); });
    ui.executableDirectory = package_.string() + "/";
    WriteFile(Package("W_CHKLCKSF.SVF"), SaveFileBytes(70000, 7));
    WriteFile(Package("MYUPD.SVF"), SaveFileBytes(150000, 99));
}

void InstallerRun::TearDown() {
    // Whatever the host did, the package the installer read from is as it was.
    EXPECT_EQ(ReadFile(Package("W_CHKLCKSF.SVF")), SaveFileBytes(70000, 7));
    EXPECT_EQ(ReadFile(Package("MYUPD.SVF")), SaveFileBytes(150000, 99));
    procedure.reset();
    ftp.reset();
    platform::SetExceptionHandler({});
    platform::SetSettingsDirectory("");
    EXPECT_FALSE(hung) << "the run did not end by itself";
}

void InstallerRun::StartHost(std::vector<std::string> options) {
    test_support::HostEmulatorConfig config;
    config.options = std::move(options);
    host = std::make_unique<test_support::HostEmulator>(config);
}

void InstallerRun::Descriptor(const std::string& bytes) {
    WriteFile(Package("update.Ini"), bytes);
}

void InstallerRun::StandardDescriptor() {
    Descriptor("[Defaults]\r\nUpdate=MYUPD\r\nDescription=Test update\r\nFilename=MYUPD.SVF\r\n"
               "Lock1=APPLIB/ORDERS\r\nType1=*FILE\r\n");
}

void InstallerRun::Load() {
    values = installer::LoadProgramValues(Package("apply-update").string());
    ftp = std::make_unique<TNMFTP>();
    procedure = std::make_unique<installer::ApplyProcedure>(ui, *ftp, values);
    using installer::ApplyField;
    if (host) {
        ui.fields[ApplyField::SystemEdt] = "127.0.0.1:" + std::to_string(host->Port());
        ui.fields[ApplyField::UserIdEdt] = host->User();
        ui.fields[ApplyField::PassEdt] = host->Password();
    }
    ui.fields[ApplyField::TargetLibEdt] = "QGPL";
}

void InstallerRun::Apply() {
    if (!procedure)
        Load();
    test_support::HangGuard limit(
        kRunLimitMs,
        [this] {
            procedure->Stop();
            ftp->Cancel();
            ftp->Abort();
        },
        20);
    procedure->ApplyBtnClick();
    limit.Disarm();
    hung = hung || limit.Fired();
}

bool InstallerRun::Logged(const std::string& line) const {
    return std::find(ui.log.begin(), ui.log.end(), line) != ui.log.end();
}

std::vector<std::string> InstallerRun::HostCommands() const {
    std::vector<std::string> commands;
    for (const std::string& command : host->Commands())
        commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
    return commands;
}

} // namespace hardening
