#include "tests/installer/apply_fixture.h"
#include "tests/support/hang_guard.h"

#include "installer/procedure/apply_texts.h"
#include "installer/procedure/remembered_settings.h"
#include "installer/procedure/text.h"
#include "platform/application_exception.h"
#include "platform/paths.h"

#include <algorithm>

namespace test_support {
namespace {

const char* ControlName(installer::ApplyControl control) {
    using installer::ApplyControl;
    switch (control) {
    case ApplyControl::SystemEdt:
        return "SystemEdt";
    case ApplyControl::UserIdEdt:
        return "UserIdEdt";
    case ApplyControl::PassEdt:
        return "PassEdt";
    case ApplyControl::TargetLibEdt:
        return "TargetLibEdt";
    case ApplyControl::Replaceopt:
        return "Replaceopt";
    case ApplyControl::ApplyBtn:
        return "ApplyBtn";
    case ApplyControl::CancelBtn:
        return "CancelBtn";
    }
    return "?";
}

std::string AllBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + i / 251) & 0xFF);
    return bytes;
}

} // namespace

void FakeWindow::ShowMessage(const std::string& text) {
    messages.push_back(text);
    calls.push_back("message");
}

void FakeWindow::ErrorDialog(const std::string& text) {
    errorDialogs.push_back(text);
    calls.push_back("error dialog");
}

int FakeWindow::ShowReadmeModal() {
    ++readmeShown;
    calls.push_back("readme");
    if (readmeResult == installer::mrOk)
        readmeAcknowledged = true;
    return readmeResult;
}

void FakeWindow::BusyChanged(bool busy) {
    using installer::ApplyControl;
    constexpr ApplyControl kBusyControls[] = {
        ApplyControl::SystemEdt,    ApplyControl::UserIdEdt,  ApplyControl::PassEdt,
        ApplyControl::TargetLibEdt, ApplyControl::Replaceopt, ApplyControl::ApplyBtn,
        ApplyControl::CancelBtn,
    };
    if (onBusyChanged)
        onBusyChanged(busy);
    busyCursor = busy;
    calls.push_back(busy ? "busy cursor" : "normal cursor");
    windowEnabled = !busy;
    calls.push_back(busy ? "disable window" : "enable window");
    for (const ApplyControl control : kBusyControls)
        SetControlEnabled(control, !busy);
    if (busy)
        SetControlEnabled(ApplyControl::CancelBtn, true);
}

void FakeWindow::SetControlEnabled(installer::ApplyControl control, bool on) {
    enabled[control] = on;
    calls.push_back(std::string(on ? "enable " : "disable ") + ControlName(control));
}

std::string FakeWindow::FieldText(installer::ApplyField field) const {
    const auto found = fields.find(field);
    return found == fields.end() ? std::string() : found->second;
}

void FakeWindow::ClearLog() {
    log.clear();
    calls.push_back("clear log");
}

void FakeWindow::AddLine(const std::string& message, int blankLines) {
    for (int i = 0; i < blankLines; ++i)
        log.push_back(" ");
    log.push_back(message);
    if (onLine)
        onLine(message);
}

void FakeWindow::ShowUploadProgress(int permille, const std::string& text) {
    progress.emplace_back(permille, text);
    progressVisible = true;
}

void FakeWindow::HideUploadProgress() {
    progressVisible = false;
    ++progressHidden;
}

installer::ApplyRequest FakeWindow::Request() const {
    using installer::ApplyField;
    installer::ApplyRequest request;
    const std::pair<ApplyField, std::string*> texts[] = {
        {ApplyField::SystemEdt, &request.ipAddress},
        {ApplyField::UserIdEdt, &request.userId},
        {ApplyField::PassEdt, &request.password},
        {ApplyField::TargetLibEdt, &request.targetLibrary}};
    for (const auto& [field, text] : texts) {
        *text = installer::Latin1ToUtf8(FieldText(field));
        if (unsendable.count(field) != 0 && !text->empty())
            *text += "\xe2\x82\xac"; // the euro sign, beyond Latin-1
    }
    request.nameFormat = nameFormat;
    request.replace = replace;
    request.connection = connection;
    request.packageDirectory = executableDirectory;
    request.machineSettings = true;
    return request;
}

void FakeWindow::Press(installer::ApplyProcedure& procedure) {
    if (procedure.Running())
        return;
    const installer::ApplyRequest request = Request();
    if (const std::string refusal = procedure.Refusal(request); !refusal.empty()) {
        ShowMessage(refusal);
        return;
    }
    if (!readmeAcknowledged && platform::FileExists(executableDirectory + installer::kReadmeName) &&
        ShowReadmeModal() != installer::mrOk)
        return;
    const installer::ApplyResult result = procedure.Run(request, *this);
    installer::RememberSettings(FieldText(installer::ApplyField::SystemEdt),
                                FieldText(installer::ApplyField::UserIdEdt));
    installer::RememberConnectionChoice(
        installer::SecurityWord(request.connection.security),
        installer::DataConnectionWord(request.connection.dataConnection));
    if (result.errorsOccurred)
        ErrorDialog(installer::kErrorsOccurred);
    if (result.error)
        std::rethrow_exception(result.error);
}

std::string LockCheckBytes() {
    return AllBytes(70000, 7);
}
std::string UpdateBytes() {
    return AllBytes(150000, 99);
}

OneShot::OneShot(int delayMs, std::function<void()> action)
    : timer_(std::make_unique<TThreadTimer>()), action_(std::move(action)) {
    timer_->SetEnabled(false);
    timer_->SetInterval(static_cast<std::uint32_t>(delayMs));
    timer_->SetOnTimer([this](TObject*) {
        timer_->SetEnabled(false);
        action_();
    });
    timer_->SetEnabled(true);
}

OneShot::~OneShot() = default;

void ApplyTest::SetUp() {
    package_ = dir_.Path() / "pkg";
    settings_ = dir_.Path() / "config";
    std::filesystem::create_directories(package_);
    std::filesystem::create_directories(settings_);
    platform::SetSettingsDirectory(settings_.string());
    platform::SetExceptionHandler(
        [this](const std::string& message) { reports.push_back(message); });
    ui.executableDirectory = (package_ / "").string(); // with the system's separator
    WriteFile(Package("W_CHKLCKSF.SVF"), LockCheckBytes());
    WriteFile(Package("MYUPD.SVF"), UpdateBytes());
}

void ApplyTest::TearDown() {
    procedure.reset();
    ftp.reset();
    platform::SetExceptionHandler({});
    platform::SetSettingsDirectory("");
}

void ApplyTest::StartHost(std::vector<std::string> options) {
    HostEmulatorConfig config;
    config.options = std::move(options);
    host = std::make_unique<HostEmulator>(config);
}

void ApplyTest::Descriptor(const std::string& defaults) {
    DescriptorBytes("[Defaults]\r\n" + defaults);
}

void ApplyTest::DescriptorBytes(const std::string& bytes) {
    WriteFile(Package("update.Ini"), bytes);
}

void ApplyTest::StandardDescriptor() {
    Descriptor("Update=MYUPD\r\nDescription=Test update\r\nFilename=MYUPD.SVF\r\n"
               "Lock1=APPLIB/ORDERS\r\nType1=*FILE\r\n");
}

void ApplyTest::Load() {
    // A test may load again: the procedure of the last load goes before the client it uses.
    procedure.reset();
    values = installer::LoadProgramValues(Package("apply-update").string());
    ftp = std::make_unique<TFtpClient>();
    procedure = std::make_unique<installer::ApplyProcedure>(*ftp, values);
    ui.onBusyChanged = [this](bool busy) { busyChanges.push_back(busy); };
}

void ApplyTest::FillFields(const std::string& password) {
    using installer::ApplyField;
    ui.fields[ApplyField::SystemEdt] = "127.0.0.1:" + std::to_string(host->Port());
    ui.fields[ApplyField::UserIdEdt] = host->User();
    ui.fields[ApplyField::PassEdt] = password.empty() ? host->Password() : password;
    ui.fields[ApplyField::TargetLibEdt] = "QGPL";
}

void ApplyTest::Apply() {
    if (!procedure)
        Load();
    // A run that hangs is cancelled over and over until it ends, and the test fails.
    HangGuard limit(
        runLimitMs,
        [this] {
            procedure->Stop();
            ftp->Cancel();
            ftp->Abort();
        },
        20);
    Press();
    limit.Disarm();
    hung = hung || limit.Fired();
    EXPECT_FALSE(hung) << "the run did not end by itself";
}

void ApplyTest::Press() {
    try {
        ui.Press(*procedure);
    } catch (...) {
        platform::HandleException(std::current_exception());
    }
}

bool ApplyTest::Logged(const std::string& line) const {
    return std::find(ui.log.begin(), ui.log.end(), line) != ui.log.end();
}

std::vector<std::string> ApplyTest::HostCommands() const {
    std::vector<std::string> commands;
    for (const std::string& command : host->Commands())
        commands.push_back(command.rfind("PORT ", 0) == 0 ? "PORT" : command);
    return commands;
}

std::string ApplyTest::File(const std::string& name) const {
    return ReadFile(settings_ / name);
}

} // namespace test_support
