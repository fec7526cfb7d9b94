#include "installer/procedure/apply_procedure.h"

#include "ftp/ftp_client.h"
#include "installer/procedure/apply_texts.h"
#include "installer/procedure/certificate_trust.h"
#include "installer/procedure/package_names.h"
#include "installer/procedure/program_values.h"
#include "installer/procedure/remembered_settings.h"
#include "installer/procedure/text.h"
#include "platform/application_exception.h"
#include "platform/paths.h"

namespace installer {
namespace {

// Ends a bounded phase of the watchdog however the scope is left.
class BoundedPhase {
public:
    BoundedPhase(ApplyWatchdog& watchdog, ApplyWatchdog::Phase phase, const std::string& subject,
                 int boundMs)
        : watchdog_(watchdog) {
        watchdog_.Begin(phase, subject, boundMs);
    }
    ~BoundedPhase() { watchdog_.End(); }
    BoundedPhase(const BoundedPhase&) = delete;
    BoundedPhase& operator=(const BoundedPhase&) = delete;

private:
    ApplyWatchdog& watchdog_;
};

// The FTP client's protection for the run's choice of connection security.
TFtpSecurity SecurityMode(SecurityChoice choice) {
    switch (choice) {
    case SecurityChoice::Tls:
        return TFtpSecurity::ExplicitTls;
    case SecurityChoice::ImplicitTls:
        return TFtpSecurity::ImplicitTls;
    case SecurityChoice::None:
        break;
    }
    return TFtpSecurity::None;
}

// The FTP client's mode for the run's choice of data connection.
TDataConnectionMode DataConnectionMode(DataConnectionChoice choice) {
    switch (choice) {
    case DataConnectionChoice::Active:
        return TDataConnectionMode::Active;
    case DataConnectionChoice::Passive:
        return TDataConnectionMode::Passive;
    case DataConnectionChoice::Auto:
        break;
    }
    return TDataConnectionMode::Auto;
}

} // namespace

EApplyStopped::EApplyStopped() : platform::Exception(kStopped) {}

ApplyProcedure::ApplyProcedure(TFtpClient& ftp, const ProgramValues& values)
    : ftp_(ftp), values_(values), watchdog_(ftp) {
    // The client's fixed settings: port 21 (the IP field may name another), active data
    // connections, no proxy or firewall log-on, no time-out of its own (the watchdog bounds
    // what must be bounded) and no status texts.
    ftp_.Port = kFtpPort;
    ftp_.Passive = false;
    ftp_.Proxy.clear();
    ftp_.ProxyPort = 0;
    ftp_.FirewallType = FTUser;
    ftp_.FWAuthenticate = false;
    ftp_.TimeOut = 0;
    ftp_.ReportLevel = 0;
    ftp_.OnConnectionFailed = [this](TObject*) { FtpConnectionFailed(); };
    // The data connection's events follow each upload for the progress.
    ftp_.OnTransactionStart = [this](TObject*) { progress_.Start(ftp_.BytesTotal); };
    ftp_.OnPacketSent = [this](TObject*) { progress_.Sent(ftp_.BytesSent()); };
    ftp_.OnTransactionStop = [this](TObject*) {
        watchdog_.TransferFinished();
        if (ftp_.Transferring())
            progress_.DataSent(ftp_.BytesSent());
    };
    ftp_.OnPassiveFallback = [this](TObject*) { Log(kPassiveFallback, 0); };
}

ApplyProcedure::~ApplyProcedure() {
    ftp_.OnConnectionFailed = nullptr;
    ftp_.OnTransactionStart = nullptr;
    ftp_.OnPacketSent = nullptr;
    ftp_.OnTransactionStop = nullptr;
    ftp_.OnPassiveFallback = nullptr;
}

void ApplyProcedure::FtpConnectionFailed() {
    // A connection attempt that the run itself gave up on says so in its own words.
    if (observer_ == nullptr || RunAbandoned())
        return;
    Log(kConnectionFailed, 1);
}

void ApplyProcedure::Log(const std::string& message, int blankLines) {
    observer_->AddLine(message, blankLines);
}

ApplyResult ApplyProcedure::Run(const ApplyRequest& request, ApplyObserver& observer) noexcept {
    // The window is enabled again while the connection closes; a second run must not start
    // inside the first one's wait. Nor can a run start once the window has closed.
    if (observer_ != nullptr || !values_.descriptor)
        return result_;
    // Who hears this run, until it has wound up.
    struct Attached {
        ApplyProcedure& procedure;
        Attached(ApplyProcedure& p, const ApplyRequest& r, ApplyObserver& o) : procedure(p) {
            procedure.request_ = &r;
            procedure.observer_ = &o;
            procedure.progress_.Attach(&o);
        }
        ~Attached() {
            procedure.progress_.Attach(nullptr);
            procedure.observer_ = nullptr;
            procedure.request_ = nullptr;
        }
    };
    try {
        result_ = ApplyResult{};
        step_ = ApplyStep::None;
        Inputs inputs;
        result_.message = Check(request, inputs);
        if (!result_.message.empty())
            return result_;
        const Attached attached(*this, request, observer);
        const std::string updateId =
            values_.descriptor->ReadString(kDefaultsSection, kUpdateKey, "");

        std::exception_ptr failure;
        errorFlag_ = false;
        stopLogged_ = false;
        loggedOn_ = false;
        connectionLost_ = false;
        watchdog_.Reset();
        EnterBusy();
        try {
            Script(inputs, updateId);
        } catch (...) {
            failure = Explain(std::current_exception());
        }
        RecordOutcome(failure);
        Finish(failure);
    } catch (...) {
        // Only the observer can raise here; what it raised is the run's error.
        result_.error = std::current_exception();
    }
    return result_;
}

std::string ApplyProcedure::Refusal(const ApplyRequest& request) const {
    Inputs inputs;
    return Check(request, inputs);
}

namespace {

// "The <caption> contains a character that cannot be sent to the AS/400."
std::string CannotBeSent(const char* caption) {
    return std::string("The ") + caption + kCannotBeSent;
}

} // namespace

std::string ApplyProcedure::Check(const ApplyRequest& request, Inputs& inputs) const {
    // Each field: first whether it is empty, then whether Latin-1 can carry it.
    const struct {
        const std::string& text;
        std::string& latin1;
        const char* empty; // the refusal of an empty field; none for the target library
        const char* caption;
    } fields[] = {
        {request.ipAddress, inputs.ipAddress, kNeedIpAddress, kIpAddressCaption},
        {request.userId, inputs.userId, kNeedUserId, kUserIdCaption},
        {request.password, inputs.password, kNeedPassword, kPasswordCaption},
        // Read for the install command much later, but refused now, before anything is sent.
        {request.targetLibrary, inputs.targetLibrary, nullptr, kTargetLibraryCaption},
    };
    for (const auto& field : fields) {
        if (field.empty != nullptr && field.text.empty())
            return field.empty;
        if (!Utf8ToLatin1(field.text, field.latin1))
            return CannotBeSent(field.caption);
    }
    if (!SplitHostAddress(inputs.ipAddress, inputs.address))
        return kBadPort;
    // The target library goes into the install command, as a parameter of its own.
    if (!IsIbmiName(inputs.targetLibrary))
        return NotANameMessage(kTargetLibraryCaption, inputs.targetLibrary);
    // The descriptor is read again during the run; what it names now must still be sound.
    try {
        CheckDescriptorValues(*values_.descriptor);
    } catch (const EDescriptorValue& error) {
        return error.Message();
    }
    return {};
}

void ApplyProcedure::EnterBusy() {
    busy_ = true;
    observer_->BusyChanged(true);
}

void ApplyProcedure::LeaveBusy() {
    progress_.EndRun();
    observer_->ShowConnectionSecurity("");
    busy_ = false;
    observer_->BusyChanged(false);
}

void ApplyProcedure::Stop() {
    if (!busy_ || watchdog_.StopRequested())
        return;
    watchdog_.RequestStop();
}

void ApplyProcedure::CheckStop() {
    if (watchdog_.StopRequested())
        throw EApplyStopped();
}

bool ApplyProcedure::RunAbandoned() const {
    return watchdog_.StopRequested() || watchdog_.Expired();
}

std::exception_ptr ApplyProcedure::Explain(std::exception_ptr error) {
    if (watchdog_.StopRequested()) {
        if (!stopLogged_)
            Log(kStopped, 1);
        stopLogged_ = true;
        return std::make_exception_ptr(EApplyStopped());
    }
    if (watchdog_.Expired())
        return std::make_exception_ptr(EApplyTimedOut(watchdog_.ExpiryMessage()));
    if (loggedOn_ && ftp_.ConnectionLost()) {
        // Whatever the step was waiting for, the host's answer never came: the run failed,
        // and the operator is told so in the log with the usual failure summary.
        Log(kConnectionLost, 1);
        errorFlag_ = true;
        connectionLost_ = true;
        return nullptr;
    }
    return error;
}

bool ApplyProcedure::AnsweredByHost() const {
    // A failure reply leaves the conversation in step and the connection open. A connection
    // that is gone (lost, or closed because its answer was no FTP reply) answered nothing.
    return ftp_.Connected;
}

void ApplyProcedure::RecordOutcome(std::exception_ptr failure) {
    result_.failedStep = step_;
    if (failure) {
        result_.message = Trim(platform::ExceptionMessage(failure));
        if (watchdog_.StopRequested())
            result_.outcome = ApplyOutcome::Stopped;
        else if (step_ == ApplyStep::Connect)
            result_.outcome = ApplyOutcome::ConnectFailed;
        else
            result_.outcome = ApplyOutcome::Failed;
        return;
    }
    if (connectionLost_) {
        result_.outcome = ApplyOutcome::Failed;
        result_.message = kConnectionLost;
        return;
    }
    if (errorFlag_) {
        // The step that set the flag has already said why.
        result_.outcome =
            step_ == ApplyStep::Install ? ApplyOutcome::InstallFailed : ApplyOutcome::Locked;
        return;
    }
    result_.outcome = ApplyOutcome::Applied;
    result_.failedStep = ApplyStep::None;
    result_.message = kUpdate + values_.shownUpdateId + kSuccessfullyApplied;
}

void ApplyProcedure::Script(const Inputs& inputs, const std::string& updateId) {
    const std::string& library = values_.supportLibrary;
    step_ = ApplyStep::Connect;
    Connect(inputs);
    step_ = ApplyStep::SetNameFormat;
    SetNameFormat();

    step_ = ApplyStep::SetBinaryMode;
    Log(kSettingBinary, 1);
    ftp_.Mode(TFtpClient::kModeBinary);
    CheckStop();

    step_ = ApplyStep::ChangeDirectory;
    Log(kChangingDirectory + library, 1);
    ftp_.ChangeDir(library);
    CheckStop();

    step_ = ApplyStep::ChangeJobLog;
    Log(kChangingJobLog, 0);
    ftp_.DoCommand(ChangeJobLogCommand());
    CheckStop();

    step_ = ApplyStep::PrepareLockCheck;
    PrepareSaveFile(kLockCheckSaveFile, kLockSaveFileNotFound + library + kWillBeCreated);
    step_ = ApplyStep::TransferLockCheck;
    Log(kTransferringLockCheck, 0);
    Upload(kLockCheckLocalFile, library + "/" + kLockCheckSaveFile);

    step_ = ApplyStep::RestoreLockCheck;
    Log(kRestoringLockCheck, 0);
    ftp_.DoCommand(RestoreLockCheckCommand(library));
    CheckStop();

    step_ = ApplyStep::CheckLocks;
    if (CheckLocks()) {
        TransferUpdate(updateId);
        Install(inputs, updateId);
    }
    if (!errorFlag_) {
        Log(kUpdate + values_.shownUpdateId + kSuccessfullyApplied, 0);
        Log(kProcessComplete, 1);
    }
}

void ApplyProcedure::Connect(const Inputs& inputs) {
    ftp_.Host = inputs.address.host;
    ftp_.Security = SecurityMode(request_->connection.security);
    // Implicit TLS has a port of its own; a port typed with the address always wins.
    ftp_.Port = inputs.address.portGiven                                       ? inputs.address.port
                : request_->connection.security == SecurityChoice::ImplicitTls ? kImplicitTlsPort
                                                                               : kFtpPort;
    // The descriptor names the package's own authorities; the command line may name a file of
    // the operator's by its full path.
    const std::string& caFile = request_->connection.caFile;
    ftp_.CAFile = caFile.empty() || platform::IsAbsolutePath(caFile)
                      ? caFile
                      : request_->packageDirectory + caFile;
    ftp_.OnCertificate = [this, &inputs](TComponent*, const platform::TlsVerification& verification,
                                         bool& accept) {
        DecideCertificate(inputs, verification, accept);
    };
    ftp_.DataConnection = DataConnectionMode(request_->connection.dataConnection);
    ftp_.UserID = inputs.userId;
    ftp_.Password = inputs.password;
    observer_->ClearLog();
    Log(kConnectingTo + inputs.ipAddress, 1);
    // The password is about to cross the network: say so while it does, and afterwards.
    if (request_->connection.security == SecurityChoice::None)
        observer_->ShowConnectionSecurity(kNotSecured);
    {
        BoundedPhase bounded(watchdog_, ApplyWatchdog::Phase::Connecting, inputs.ipAddress,
                             WaitBoundMs);
        struct ForgetHandler {
            TFtpClient& ftp;
            ~ForgetHandler() { ftp.OnCertificate = nullptr; }
        } forget{ftp_};
        ftp_.Connect();
    }
    CheckStop();
    if (watchdog_.Expired())
        throw EApplyTimedOut(watchdog_.ExpiryMessage());
    loggedOn_ = true;
}

void ApplyProcedure::DecideCertificate(const Inputs& inputs,
                                       const platform::TlsVerification& verification,
                                       bool& accept) {
    if (!accept) {
        // The operator's time to decide does not count against the log-on's bound; the
        // rest of the log-on gets the whole bound again.
        watchdog_.End();
        accept = CertificateTrusted(*observer_, verification, inputs.address.host, ftp_.Port,
                                    request_->machineSettings);
        watchdog_.Begin(ApplyWatchdog::Phase::Connecting, inputs.ipAddress, WaitBoundMs);
    }
    if (!accept)
        return;
    Log(kSecuredWith + ftp_.TlsVersion() + " (" + ftp_.TlsCipher() + ").", 0);
    observer_->ShowConnectionSecurity(std::string(kSecuredState) + " (" + ftp_.TlsVersion() + ")");
    result_.secured = true;
}

void ApplyProcedure::SetNameFormat() {
    const std::string command = NameFormatCommand(request_->nameFormat);
    if (command.empty())
        return;
    Log(kSettingNameFormat + command, 1);
    ftp_.DoCommand(command);
    CheckStop();
}

void ApplyProcedure::PrepareSaveFile(const std::string& file, const std::string& missingLine) {
    const std::string& library = values_.supportLibrary;
    try {
        ftp_.DoCommand(CheckSaveFileCommand(library, file));
    } catch (const platform::Exception&) {
        if (RunAbandoned() || !AnsweredByHost())
            throw;
        // Whatever the host answered, the save file is taken to be missing.
        Log(missingLine, 0);
        Log(kContinuingTransfer, 0);
        ftp_.DoCommand(CreateSaveFileCommand(library, file));
    }
    CheckStop();
    ftp_.DoCommand(ClearSaveFileCommand(library, file));
    CheckStop();
}

void ApplyProcedure::Upload(const std::string& packageName, const std::string& remoteFile) {
    const std::string localFile = request_->packageDirectory + packageName;
    // Counts what this upload puts on the data connection, however it ends; whoever else
    // listens to the client's packets still hears every one.
    struct CountSent {
        TFtpClient& ftp;
        std::int64_t& total;
        TNotifyEvent previous = ftp.OnPacketSent;
        std::int64_t sent = 0;
        ~CountSent() {
            ftp.OnPacketSent = previous;
            total += sent;
        }
    } count{ftp_, result_.bytesSent};
    ftp_.OnPacketSent = [&count](TObject* sender) {
        if (count.ftp.Transferring())
            count.sent = count.ftp.BytesSent();
        if (count.previous)
            count.previous(sender);
    };
    progress_.Begin(ShownInLatin1(localFile));
    try {
        BoundedPhase bounded(watchdog_, ApplyWatchdog::Phase::Uploading, ShownInLatin1(localFile),
                             WaitBoundMs);
        ftp_.Upload(PackageFile(packageName), remoteFile);
    } catch (...) {
        progress_.Finish(false);
        throw;
    }
    progress_.Finish(true);
    CheckStop();
    if (watchdog_.Expired())
        throw EApplyTimedOut(watchdog_.ExpiryMessage());
}

bool ApplyProcedure::CheckLocks() {
    const std::string& library = values_.supportLibrary;
    for (int number = 1;; ++number) {
        const LockEntry entry = ReadLockEntry(*values_.descriptor, number);
        if (entry.value.empty())
            return true;
        Log(kCheckingLocks + entry.value, 1);
        try {
            ftp_.DoCommand(LockCheckCommand(library, entry));
        } catch (const platform::Exception&) {
            if (RunAbandoned() || !AnsweredByHost())
                throw;
            // Whatever the host answered, the object counts as locked; its text means
            // nothing to the operator, the WRKOBJLCK hint does.
            Log(kTheObject + entry.value + kIsLocked, 1);
            Log(kCannotProceed, 0);
            Log(kConsultReadme, 0);
            Log(kAlternatively, 0);
            Log(kToDetermineJobs, 0);
            Log(WrkObjLckLine(entry), 0);
            result_.message = kTheObject + entry.value + kIsLocked;
            errorFlag_ = true;
            return false;
        }
        CheckStop();
    }
}

void ApplyProcedure::TransferUpdate(const std::string& updateId) {
    const std::string& library = values_.supportLibrary;
    step_ = ApplyStep::PrepareUpdate;
    PrepareSaveFile(updateId, kSaveFile + updateId + kNotFoundIn + library + kWillBeCreated);
    step_ = ApplyStep::TransferUpdate;
    Log(kTransferringUpdate, 0);
    const std::string updateFile =
        values_.descriptor->ReadString(kDefaultsSection, kFilenameKey, kDefaultFilename);
    Upload(updateFile, updateId);
}

void ApplyProcedure::Install(const Inputs& inputs, const std::string& updateId) {
    step_ = ApplyStep::Install;
    Log(kInstallingUpdate, 1);
    const std::string command =
        InstallCommand(updateId, values_.supportLibrary, inputs.targetLibrary, request_->replace);
    try {
        ftp_.DoCommand("rcmd " + command);
    } catch (const platform::Exception& error) {
        if (RunAbandoned() || !AnsweredByHost())
            throw;
        Log(kMayHaveFailed, 0);
        Log(kErrorTextReceived, 0);
        Log(Trim(error.Message()), 0);
        Log(kViewJoblog, 0);
        Log(kBrowseSpoolFile, 0);
        result_.message = Trim(error.Message());
        errorFlag_ = true;
    }
    CheckStop();
}

std::string ApplyProcedure::PackageFile(const std::string& name) const {
    // Never the working folder: a file planted there under a package file's name would be
    // uploaded, restored and run on the host.
    const std::string path = request_->packageDirectory + name;
    if (!IsPackageFileName(name) || !platform::FileExists(path))
        throw platform::EFOpenError(name); // names what the package lacks
    return path;
}

void ApplyProcedure::LogOff(std::exception_ptr& failure) {
    // After a stop or an expired bound the host may never answer again: close without QUIT.
    // A connection attempt that failed is closed too, so that the next run starts on a
    // fresh socket rather than one whose connect may still complete.
    if (RunAbandoned() || !ftp_.Connected) {
        ftp_.RequestCloseSocket();
        return;
    }
    step_ = ApplyStep::LogOff;
    try {
        BoundedPhase bounded(watchdog_, ApplyWatchdog::Phase::LoggingOff, "", WaitBoundMs);
        ftp_.Disconnect();
    } catch (...) {
        if (!RunAbandoned())
            throw;
        // The client closed the connection on its way out; the run goes on to its end and
        // then says why the log-off was cut short.
        failure = Explain(std::current_exception());
    }
}

void ApplyProcedure::Finish(std::exception_ptr failure) {
    // Log off. An error here ends the finishing steps and replaces the one on its way.
    try {
        LogOff(failure);
    } catch (...) {
        watchdog_.Reset();
        LeaveBusy();
        result_.error = std::current_exception();
        return;
    }
    watchdog_.Reset();
    LeaveBusy();
    // A locked object, a failed install or a lost connection: the failure summary, and the
    // front end says that errors occurred.
    if (errorFlag_) {
        Log(kUpdate + values_.shownUpdateId + kNotSuccessfullyApplied, 1);
        Log(kCheckPreviousMessages, 0);
        result_.errorsOccurred = true;
    }
    result_.error = failure;
}

} // namespace installer
