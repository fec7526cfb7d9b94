#include "installer/command_line/cli_run.h"

#include "ftp/ftp_client.h"
#include "installer/command_line/cli_apply_ui.h"
#include "installer/command_line/cli_options.h"
#include "installer/command_line/cli_package.h"
#include "installer/command_line/cli_password.h"
#include "installer/command_line/cli_text.h"
#include "installer/procedure/apply_procedure.h"
#include "installer/procedure/apply_result.h"
#include "installer/procedure/apply_texts.h"
#include "installer/procedure/package_names.h"
#include "installer/procedure/program_values.h"
#include "installer/procedure/text.h"
#include "installer/procedure/version.h"
#include "platform/application_exception.h"
#include "platform/broken_pipe.h"
#include "platform/event_pump.h"
#include "platform/signal_watch.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace installer {
namespace {

using Clock = std::chrono::steady_clock;

// What the summary line reports; texts in UTF-8.
struct Summary {
    std::string host;
    std::string update = kNoUpdate;
    ApplyResult result; // its message in UTF-8 too
};

std::string SummaryJson(const Summary& summary, double seconds) {
    char number[64];
    std::snprintf(number, sizeof number, "%.3f", seconds);
    const char* step = StepName(summary.result.failedStep);
    return "{\"host\":" + JsonString(summary.host) + ",\"update\":" + JsonString(summary.update) +
           ",\"outcome\":" + JsonString(OutcomeName(summary.result.outcome)) +
           ",\"failed_step\":" + (*step ? JsonString(step) : std::string("null")) +
           ",\"message\":" + JsonString(summary.result.message) + ",\"seconds\":" + number +
           ",\"bytes_sent\":" + std::to_string(summary.result.bytesSent) +
           ",\"secured\":" + (summary.result.secured ? "true" : "false") + "}";
}

int ExitStatus(ApplyOutcome outcome) {
    switch (outcome) {
    case ApplyOutcome::Applied:
        return kExitApplied;
    case ApplyOutcome::NotStarted:
        return kExitUsage;
    case ApplyOutcome::ConnectFailed:
        return kExitNoConnection;
    case ApplyOutcome::Stopped:
        return kExitStopped;
    case ApplyOutcome::Locked:
    case ApplyOutcome::InstallFailed:
    case ApplyOutcome::Failed:
        return kExitNotApplied;
    }
    return kExitNotApplied;
}

// A field from the command line (UTF-8), in the Latin-1 the host conversation carries.
std::string FieldFromCommandLine(const std::string& text, const char* label) {
    std::string latin1;
    if (!Utf8ToLatin1(text, latin1))
        throw ECliUsage(std::string("The ") + label +
                        " contains a character that cannot be sent to the AS/400.");
    return latin1;
}

// The four fields: the command line's where given, else the descriptor's, as the window
// starts with them. What an operator last typed into a window on this machine plays no
// part in an unattended run.
void FillFields(const CliOptions& options, const ProgramValues& values, CliApplyUi& ui,
                Summary& summary) {
    const platform::ProfileFile& descriptor = *values.descriptor;
    const std::string host = options.host
                                 ? FieldFromCommandLine(*options.host, "AS/400 IP Address")
                                 : descriptor.ReadString(kDefaultsSection, kIPAddressKey, "");
    summary.host = Latin1ToUtf8(host);
    if (host.empty())
        throw ECliUsage(std::string("No host: give --host HOST[:PORT], or IPAddress in ") +
                        kDescriptorName + ".");
    HostAddress address;
    if (!SplitHostAddress(host, address))
        throw ECliUsage(kBadPort);
    ui.fields[ApplyField::SystemEdt] = host;
    ui.fields[ApplyField::UserIdEdt] =
        options.user ? FieldFromCommandLine(*options.user, "User ID")
                     : descriptor.ReadString(kDefaultsSection, kUseridKey, "QSECOFR");
    ui.fields[ApplyField::TargetLibEdt] =
        options.targetLibrary ? FieldFromCommandLine(*options.targetLibrary, "Target library")
                              : descriptor.ReadString(kDefaultsSection, kTgtlibKey, kDefaultTgtlib);
    ui.replace = options.replace;
    ui.nameFormat = options.nameFormat;
    ui.readmeRead = options.readmeRead;
    // A descriptor value that names no choice is a broken package, even where the command
    // line overrides it.
    try {
        ui.connection = ReadDescriptorOptions(descriptor);
        CheckDescriptorValues(descriptor);
    } catch (const EDescriptorValue& error) {
        throw ECliUsage(error.Message());
    }
    if (options.security)
        ui.connection.security = *options.security;
    if (options.caFile) // the command line's names are the current folder's
        ui.connection.caFile = std::filesystem::absolute(*options.caFile).string();
    if (options.dataConnection)
        ui.connection.dataConnection = *options.dataConnection;
    ui.trustedFingerprint = options.trustedFingerprint;
}

int Apply(const CliOptions& options, LineOutput& out, LineOutput& errors, Summary& summary) {
    platform::EnsureApplication();
    ProgramValues values = LoadProgramValues(PackageDirectory(options.package) + kCliProgramName);
    summary.update = Latin1ToUtf8(values.shownUpdateId);
    CliApplyUi ui(values.executableDirectory, out, errors);
    try {
        FillFields(options, values, ui, summary);
        CheckPackage(values, options.readmeRead);
        ui.fields[ApplyField::PassEdt] = FieldFromCommandLine(ReadPassword(options), "Password");
    } catch (const ECliUsage& refusal) {
        summary.result.message = refusal.Message();
        errors.Utf8(refusal.Message());
        return kExitUsage;
    }

    // What ends a run with an error is reported as the window's top-level report would.
    platform::SetExceptionHandler([&errors](const std::string& message) {
        for (const std::string& line : MessageLines(ErrorReportText(message)))
            errors.Latin1(line);
    });
    TFtpClient ftp;
    ApplyProcedure procedure(ui, ftp, values);
    procedure.RememberSettingsAtEnd = false;
    {
        // SIGINT and SIGTERM stop the run as the window's Stop button does: the waits end
        // at once and the connection is closed.
        platform::SignalWatch signals([&procedure](int) { procedure.Stop(); });
        procedure.ApplyBtnClick();
    }
    platform::SetExceptionHandler({});
    summary.result = procedure.Result();
    summary.result.message = Latin1ToUtf8(summary.result.message);
    return ExitStatus(summary.result.outcome);
}

} // namespace

int RunApplyUpdateCli(const std::vector<std::string>& arguments) {
    const Clock::time_point started = Clock::now();
    platform::IgnoreBrokenPipe();
    LineOutput out(stdout);
    LineOutput errors(stderr, std::string(kCliProgramName) + ": ");

    CliOptions options;
    try {
        options = ParseCliOptions(arguments);
    } catch (const ECliUsage& refusal) {
        errors.Utf8(refusal.Message());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(CliHelpText().c_str(), stdout);
        return kExitApplied;
    }
    if (options.version) {
        std::printf("%s %s\n", kCliProgramName, kVersion);
        return kExitApplied;
    }

    Summary summary;
    int status = kExitNotApplied;
    try {
        status = Apply(options, out, errors, summary);
    } catch (...) {
        // Nothing in the run itself raises past the procedure; this is the set-up failing.
        const std::string message = platform::ExceptionMessage(std::current_exception());
        summary.result.message = Latin1ToUtf8(message);
        errors.Latin1(message);
    }
    if (options.json) {
        const std::chrono::duration<double> seconds = Clock::now() - started;
        out.Utf8(SummaryJson(summary, seconds.count()));
    }
    return status;
}

} // namespace installer
