#include "installer/command_line/cli_run.h"

#include "ftp/ftp_client.h"
#include "installer/command_line/cli_observer.h"
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
#include "platform/paths.h"
#include "platform/signal_watch.h"

#include <chrono>
#include <cstdio>
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

// The run's request: the command line's values where given, else the descriptor's. What an
// operator last typed on this machine plays no part in an unattended run.
ApplyRequest MakeRequest(const CliOptions& options, const ProgramValues& values, Summary& summary) {
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
    ApplyRequest request;
    request.ipAddress = Latin1ToUtf8(host);
    request.userId =
        Latin1ToUtf8(options.user ? FieldFromCommandLine(*options.user, "User ID")
                                  : descriptor.ReadString(kDefaultsSection, kUseridKey, "QSECOFR"));
    request.targetLibrary =
        Latin1ToUtf8(options.targetLibrary
                         ? FieldFromCommandLine(*options.targetLibrary, "Target library")
                         : descriptor.ReadString(kDefaultsSection, kTgtlibKey, kDefaultTgtlib));
    request.replace = options.replace;
    request.nameFormat = options.nameFormat;
    request.packageDirectory = values.executableDirectory;
    // A descriptor value that names no choice is a broken package, even where the command
    // line overrides it.
    try {
        request.connection = ReadDescriptorOptions(descriptor);
        CheckDescriptorValues(descriptor);
    } catch (const EDescriptorValue& error) {
        throw ECliUsage(error.Message());
    }
    if (options.security)
        request.connection.security = *options.security;
    if (options.caFile) // the command line's names are the current folder's
        request.connection.caFile = platform::AbsolutePath(*options.caFile);
    if (options.dataConnection)
        request.connection.dataConnection = *options.dataConnection;
    return request;
}

// An error text of the installer's (Latin-1) on standard error, line by line.
void PrintMessage(LineOutput& errors, const std::string& message) {
    for (const std::string& line : MessageLines(message))
        errors.Latin1(line);
}

int Apply(const CliOptions& options, LineOutput& out, LineOutput& errors, Summary& summary) {
    platform::EnsureApplication();
    ProgramValues values = LoadProgramValues(PackageDirectory(options.package) + kCliProgramName);
    summary.update = Latin1ToUtf8(values.shownUpdateId);
    ApplyRequest request;
    try {
        request = MakeRequest(options, values, summary);
        CheckPackage(values, options.readmeRead);
        request.password = Latin1ToUtf8(FieldFromCommandLine(ReadPassword(options), "Password"));
    } catch (const ECliUsage& refusal) {
        summary.result.message = refusal.Message();
        errors.Utf8(refusal.Message());
        return kExitUsage;
    }

    TFtpClient ftp;
    ApplyProcedure procedure(ftp, values);
    if (const std::string refusal = procedure.Refusal(request); !refusal.empty()) {
        PrintMessage(errors, refusal);
        summary.result.message = Latin1ToUtf8(refusal);
        return kExitUsage;
    }
    CliObserver observer(out, errors);
    observer.trustedFingerprint = options.trustedFingerprint;
    {
        // SIGINT and SIGTERM stop the run as an operator's Stop does: the waits end
        // at once and the connection is closed.
        platform::SignalWatch signals([&procedure](int) { procedure.Stop(); });
        summary.result = procedure.Run(request, observer);
    }
    // What ended the run with an error is reported in the words of the top-level report.
    if (summary.result.error)
        PrintMessage(errors, ErrorReportText(platform::ExceptionMessage(summary.result.error)));
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
