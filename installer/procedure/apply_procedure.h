// The apply procedure behind the main window's Apply button: it checks the operator's
// input, passes the readme gate, logs on to the AS/400 and drives the fixed script of FTP
// and remote CL commands that checks for locked objects, uploads the update and installs
// it, writing every step to the status log. It holds no window code: it works through the
// window's ApplyUi and the window's FTP client, so tests can drive it without a window.
#pragma once

#include "installer/procedure/apply_commands.h"
#include "installer/procedure/apply_result.h"
#include "installer/procedure/apply_ui.h"
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
    // Gives the FTP client its fixed settings; `ui`, `ftp` and `values` must outlive the
    // procedure.
    ApplyProcedure(ApplyUi& ui, TFtpClient& ftp, const ProgramValues& values);
    ~ApplyProcedure();
    ApplyProcedure(const ApplyProcedure&) = delete;
    ApplyProcedure& operator=(const ApplyProcedure&) = delete;

    // One press of Apply. An error that ends the run goes to the top-level error report
    // (after the finishing steps); nothing leaves this function. A press while a run is
    // still winding up is ignored.
    void ApplyBtnClick() noexcept;

    // The operator's Stop: ends the running Apply as soon as the event loop gets to it,
    // even when the host never answers again. Does nothing when no run is busy.
    void Stop();

    // A run is busy: from the busy cursor until the connection is closed.
    bool Busy() const { return busy_; }

    // The FTP client's connection-failed notification: the window's FtpConnectionFailed.
    void FtpConnectionFailed();

    // Told when a run enters its busy part (true: the Close button becomes "Stop") and when
    // it has closed its connection (false: "Close" again).
    std::function<void(bool busy)> OnBusyChanged;

    // The longest that connecting, a stalled data connection and logging off may take.
    int WaitBoundMs = kWaitBoundMs;

    // Whether a run ends by remembering the address and user in KDXInst.Ini, for the next
    // time the window opens. A run without a window (the command line) has nothing to
    // remember them for and leaves the file alone.
    bool RememberSettingsAtEnd = true;

    // How the last run ended; reset when a press starts a run. A press that is ignored (a
    // run still winding up) leaves it as it was. It says what the script achieved: an error
    // while logging off afterwards still goes to the error report, but an update that was
    // installed stays applied.
    const ApplyResult& Result() const { return result_; }

private:
    struct Inputs {
        std::string ipAddress;
        std::string userId;
        std::string password;
        HostAddress address;
    };

    bool Validate(Inputs& inputs);
    // Shows why the input cannot be used, and keeps it as the run's result.
    void Refuse(const std::string& message);
    // Tells the operator when the field holds a character that cannot be sent.
    bool Sendable(ApplyField field, const char* caption);
    // What the script achieved, once it has ended (before logging off).
    void RecordOutcome(std::exception_ptr failure);
    bool PassReadmeGate();
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
    void Install(const std::string& updateId);
    void LogOff(std::exception_ptr& failure);
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
    // A file of the package folder (beside the executable); raises EFOpenError naming the
    // file when the package has none of that name.
    std::string PackageFile(const std::string& name) const;

    void Log(const std::string& message, int blankLines);

    ApplyUi& ui_;
    TFtpClient& ftp_;
    const ProgramValues& values_;
    ApplyWatchdog watchdog_;
    UploadProgressReporter progress_;
    bool running_ = false; // from the press until the end of the finishing steps
    bool busy_ = false;
    bool errorFlag_ = false;
    bool stopLogged_ = false;
    bool loggedOn_ = false;            // the run got past the log-on
    bool connectionLost_ = false;      // and then lost its connection
    ConnectionOptions connection_;     // how this run reaches the host
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
