// The texts an Apply writes to the status log and shows in its message boxes. They are the
// installer's own words and are kept exactly as operators and their run books know them,
// misspellings included.
#pragma once

namespace installer {

// Validation.
inline constexpr char kNeedIpAddress[] = "You must specify a valid IP Address";
inline constexpr char kNeedUserId[] = "You must type a valid AS/400 User ID";
inline constexpr char kNeedPassword[] = "You must type a password for this User ID";
inline constexpr char kBadPort[] =
    "The port after \":\" in the AS/400 IP Address must be a number from 1 to 65535";

// The captions of the fields, which also name them in the messages below.
inline constexpr char kIpAddressCaption[] = "AS/400 IP Address";
inline constexpr char kUserIdCaption[] = "User ID";
inline constexpr char kPasswordCaption[] = "Password";
inline constexpr char kTargetLibraryCaption[] = "Target library";
// "The " + caption + kCannotBeSent: a field with a character that has no single-byte code.
inline constexpr char kCannotBeSent[] = " contains a character that cannot be sent to the AS/400.";

// The script's progress.
inline constexpr char kConnectingTo[] = "Connecting to: ";
inline constexpr char kSettingNameFormat[] = "Setting name format: ";
inline constexpr char kSettingBinary[] = "Setting FTP mode to binary";
inline constexpr char kChangingDirectory[] = "Changing current directory to ";
inline constexpr char kChangingJobLog[] = "Changing job to log errors";
inline constexpr char kLockSaveFileNotFound[] = "Check lock save file not found in ";
inline constexpr char kWillBeCreated[] = ".  It will be created now.";
inline constexpr char kContinuingTransfer[] = "Continuing transfer.";
inline constexpr char kTransferringLockCheck[] = "Transferring lock check...";
inline constexpr char kRestoringLockCheck[] = "Restoring lock check...";
inline constexpr char kCheckingLocks[] = "Checking for locks on object: ";
inline constexpr char kSaveFile[] = "Save file ";
inline constexpr char kNotFoundIn[] = " not found in ";
inline constexpr char kTransferringUpdate[] = "Transferring update...";
inline constexpr char kInstallingUpdate[] = "Installing update.";

// A locked object.
inline constexpr char kTheObject[] = "The object ";
inline constexpr char kIsLocked[] = " is locked.";
inline constexpr char kCannotProceed[] = "The update cannot proceed.";
inline constexpr char kConsultReadme[] = "Consult the Readme for possible rememdies.";
inline constexpr char kAlternatively[] = "Alternatively, use the following command";
inline constexpr char kToDetermineJobs[] = "to determine which job(s) have a lock on the object:";

// A failed install command.
inline constexpr char kMayHaveFailed[] = "The update apply process may have failed.";
inline constexpr char kErrorTextReceived[] = "Error text recieved from AS/400:";
inline constexpr char kViewJoblog[] = "To view joblog on the AS/400 type: WRKSPLF QTCP";
inline constexpr char kBrowseSpoolFile[] =
    "Browse the last spool file in the list to determine the cause.";

// The end of a run.
inline constexpr char kUpdate[] = "Update ";
inline constexpr char kSuccessfullyApplied[] = " successfully applied.";
inline constexpr char kProcessComplete[] = "The Apply Update process is complete.";
inline constexpr char kNotSuccessfullyApplied[] = " was not successfully applied, please";
inline constexpr char kCheckPreviousMessages[] = "check previous messages to determine the cause.";
inline constexpr char kErrorsOccurred[] =
    "Errors occurred.  Please check messages listed to determine the cause.";

// The FTP client could not connect or log on.
inline constexpr char kConnectionFailed[] =
    "Error connection attempt failed.  Check AS/400 IP address, and User ID / Password";

// The control connection is secured: "Secured with TLS 1.3 (TLS_AES_256_GCM_SHA384)."
inline constexpr char kSecuredWith[] = "Secured with ";

// Beside the progress while a run is connected, never in the status log.
inline constexpr char kNotSecured[] = "Not secured";
inline constexpr char kNotSecuredDetail[] =
    "The password and the update cross the network in clear.";
// "Secured (TLS 1.3)"
inline constexpr char kSecuredState[] = "Secured";

// The control connection ended under a run, after the log-on.
inline constexpr char kConnectionLost[] = "The connection to the AS/400 was lost.";

// The host could not open an upload's data connection to this machine; that upload and
// every later one go the other way.
inline constexpr char kPassiveFallback[] =
    "The AS/400 could not connect back; using passive data connections.";

// The operator stopped the run.
inline constexpr char kStopped[] = "The Apply Update process was stopped by the operator.";

} // namespace installer
