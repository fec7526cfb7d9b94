// How an Apply ended, for callers that report runs instead of showing them (the
// command-line run prints it and turns it into its exit status). The window does not need
// it: its status log and dialogs already say everything.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace installer {

enum class ApplyOutcome {
    NotStarted,    // the input was refused or the readme not acknowledged; nothing was sent
    Applied,       // the install command succeeded
    Locked,        // an object of the lock list is locked; the update was not sent
    InstallFailed, // the host's install command failed
    Failed,        // an error ended the script after log-on (a refused command, a lost
                   // connection, a local file that cannot be read, an expired bound)
    ConnectFailed, // the connection or the log-on failed (or did not finish in time)
    Stopped,       // Stop ended the run
};

// The steps of the script, in the order a run takes them.
enum class ApplyStep {
    None,
    Connect,
    SetNameFormat,
    SetBinaryMode,
    ChangeDirectory,
    ChangeJobLog,
    PrepareLockCheck,
    TransferLockCheck,
    RestoreLockCheck,
    CheckLocks,
    PrepareUpdate,
    TransferUpdate,
    Install,
    LogOff,
};

struct ApplyResult {
    ApplyOutcome outcome = ApplyOutcome::NotStarted;
    // The step that failed or was running when the run ended; None when it was applied.
    ApplyStep failedStep = ApplyStep::None;
    // One line for a report: "Update X successfully applied.", "The object L is locked.",
    // the host's error text, the error that ended the run, or why it did not start.
    std::string message;
    // Bytes put on the data connections of the run's uploads, a cut-short one included.
    std::int64_t bytesSent = 0;
    // The run spoke to the host over TLS: its password and data were never in clear.
    bool secured = false;
    // The run ended with the failure summary in the log (a locked object, a failed install,
    // a lost connection): the window shows its error dialog.
    bool errorsOccurred = false;
    // The error that ended the run, for the top-level error report after the front end's
    // own finishing steps; null when the log says everything.
    std::exception_ptr error;
};

// Stable lower-case names for reports and scripts: "applied", "install-failed", ...;
// "transfer-update", "check-locks", ... ("" for ApplyStep::None).
const char* OutcomeName(ApplyOutcome outcome);
const char* StepName(ApplyStep step);

} // namespace installer
