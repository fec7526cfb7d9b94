// The apply procedure behind the window's Apply button and the command line: it checks the
// operator's input, logs on to the AS/400 and drives the fixed script of FTP and remote CL
// commands that checks for locked objects, uploads the update and installs it, writing
// every step to the status log. It holds no window code: it runs from a request
// and tells an observer, so the window, the command line and tests all drive the same
// procedure.
#pragma once

#include "installer/procedure/apply_commands.h"
#include "installer/procedure/apply_observer.h"
#include "installer/procedure/apply_request.h"
#include "installer/procedure/apply_result.h"
#include "installer/procedure/apply_watchdog.h"
#include "installer/procedure/upload_progress_reporter.h"
#include "platform/exception.h"
#include "platform/tls_verification.h"

#include <exception>
#include <functional>
#include <string>

class TFtpClient;

namespace installer {

struct ProgramValues;

class ApplyProcedure {
public:
    // Gives the FTP client its fixed settings; `ftp` and `values` must outlive the procedure.
    ApplyProcedure(TFtpClient& ftp, const ProgramValues& values);
    ~ApplyProcedure();
    ApplyProcedure(const ApplyProcedure&) = delete;
    ApplyProcedure& operator=(const ApplyProcedure&) = delete;

    // Why the request cannot be run, in the order the operator's fields are checked (address,
    // user, password, target library) and then the descriptor's values; empty when it can.
    // A front end asks before anything else, and shows the text to the operator.
    std::string Refusal(const ApplyRequest& request) const;

    // One run: logs on, drives the script, logs off, and says how it ended. The observer
    // hears every step; nothing leaves this function. A request that Refusal refuses ends
    // as NotStarted with that text. A run started while one is still winding up is ignored
    // and returns the last result.
    ApplyResult Run(const ApplyRequest& request, ApplyObserver& observer) noexcept;

    // The operator's Stop: ends the running Apply as soon as the event loop gets to it,
    // even when the host never answers again. Does nothing when no run is busy.
    void Stop();

    // A run is busy: from BusyChanged(true) until the connection is closed.
    bool Busy() const { return busy_; }
    // A run is under way, its winding up included.
    bool Running() const { return observer_ != nullptr; }

    // The FTP client's connection-failed notification.
    void FtpConnectionFailed();

    // The longest that connecting, a stalled data connection and logging off may take.
    int WaitBoundMs = kWaitBoundMs;

    // How the last run ended; reset when a run starts. It says what the script achieved: an
    // error while logging off afterwards still goes to the error report, but an update that
    // was installed stays applied.
    const ApplyResult& Result() const { return result_; }

private:
    // The operator's texts in the Latin-1 the host conversation carries.
    struct Inputs {
        std::string ipAddress;
        std::string userId;
        std::string password;
        std::string targetLibrary;
        HostAddress address;
    };

    // The request's texts converted and checked: why the request cannot be run, or empty.
    std::string Check(const ApplyRequest& request, Inputs& inputs) const;
    // What the script achieved, once it has ended (before logging off).
    void RecordOutcome(std::exception_ptr failure);
    void EnterBusy();
    void LeaveBusy();
    void Script(const Inputs& inputs, const std::string& updateId);
    void Connect(const Inputs& inputs);
    // The FTP client's question after the TLS handshake: trusted by the check, by a
    // fingerprint trusted before, or by the operator; the agreed protocol is logged.
    void DecideCertificate(const Inputs& inputs, const platform::TlsVerification& verification,
                           bool& accept);
    void SetNameFormat();
    void PrepareSaveFile(const std::string& file, const std::string& missingLine);
    // Sends the package's file of that name.
    void Upload(const std::string& packageName, const std::string& remoteFile);
    bool CheckLocks();
    void TransferUpdate(const std::string& updateId);
    void Install(const Inputs& inputs, const std::string& updateId);
    void LogOff(std::exception_ptr& failure);
    // Logs off and winds up: the failure summary, and the error for the report.
    void Finish(std::exception_ptr failure);

    // Raises the stop at the first step after the operator pressed Stop.
    void CheckStop();
    // Whether an error caught by a step must end the run instead: a stop or an expired
    // bound is never to be taken for the host's answer.
    bool RunAbandoned() const;
    // What the operator is told for an error that ended the busy part: nothing more to
    // report (null) when the log already says it.
    std::exception_ptr Explain(std::exception_ptr error);
    // Whether an error that a step caught is the host's answer to its command.
    bool AnsweredByHost() const;
    // A file of the package folder; raises EFOpenError naming the file when the package
    // has none of that name.
    std::string PackageFile(const std::string& name) const;

    void Log(const std::string& message, int blankLines);

    TFtpClient& ftp_;
    const ProgramValues& values_;
    ApplyWatchdog watchdog_;
    UploadProgressReporter progress_;
    const ApplyRequest* request_ = nullptr; // the running request
    ApplyObserver* observer_ = nullptr;     // who hears the running request
    bool busy_ = false;
    bool errorFlag_ = false;
    bool stopLogged_ = false;
    bool loggedOn_ = false;            // the run got past the log-on
    bool connectionLost_ = false;      // and then lost its connection
    ApplyStep step_ = ApplyStep::None; // the step the script is in
    ApplyResult result_;
};

// The operator stopped the run.
class EApplyStopped : public platform::Exception {
public:
    EApplyStopped();
};

// A bounded wait of the run went on too long.
class EApplyTimedOut : public platform::Exception {
public:
    using platform::Exception::Exception;
};

} // namespace installer
