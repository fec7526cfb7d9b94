#include "installer/procedure/apply_result.h"

namespace installer {

const char* OutcomeName(ApplyOutcome outcome) {
    switch (outcome) {
    case ApplyOutcome::NotStarted:
        return "not-started";
    case ApplyOutcome::Applied:
        return "applied";
    case ApplyOutcome::Locked:
        return "locked";
    case ApplyOutcome::InstallFailed:
        return "install-failed";
    case ApplyOutcome::Failed:
        return "failed";
    case ApplyOutcome::ConnectFailed:
        return "connect-failed";
    case ApplyOutcome::Stopped:
        return "stopped";
    }
    return "failed";
}

const char* StepName(ApplyStep step) {
    switch (step) {
    case ApplyStep::None:
        return "";
    case ApplyStep::Connect:
        return "connect";
    case ApplyStep::SetNameFormat:
        return "set-name-format";
    case ApplyStep::SetBinaryMode:
        return "set-binary-mode";
    case ApplyStep::ChangeDirectory:
        return "change-directory";
    case ApplyStep::ChangeJobLog:
        return "change-job-log";
    case ApplyStep::PrepareLockCheck:
        return "prepare-lock-check";
    case ApplyStep::TransferLockCheck:
        return "transfer-lock-check";
    case ApplyStep::RestoreLockCheck:
        return "restore-lock-check";
    case ApplyStep::CheckLocks:
        return "check-locks";
    case ApplyStep::PrepareUpdate:
        return "prepare-update";
    case ApplyStep::TransferUpdate:
        return "transfer-update";
    case ApplyStep::Install:
        return "install";
    case ApplyStep::LogOff:
        return "log-off";
    }
    return "";
}

} // namespace installer
