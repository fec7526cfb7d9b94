// What the apply procedure needs of the main window. The procedure is plain logic; the
// window implements this interface, and tests drive the procedure through a fake one
// without any window.
#pragma once

#include "installer/procedure/connection_options.h"

#include <string>
#include <vector>

namespace installer {

// Modal results of the dialogs: OK 1, Cancel 2 (the close box also gives Cancel).
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// The controls that the procedure disables while it runs, in the order it disables them.
enum class ApplyControl {
    SystemEdt,
    UserIdEdt,
    PassEdt,
    TargetLibEdt,
    Replaceopt,
    ApplyBtn,
    CancelBtn,
};

// The single-line edits whose text the procedure reads.
enum class ApplyField {
    SystemEdt,
    UserIdEdt,
    PassEdt,
    TargetLibEdt,
};

// Name-format choices of the advanced options.
inline constexpr int kNameFmtNoOverride = 0;
inline constexpr int kNameFmtLib = 1;  // "site namefmt 0"
inline constexpr int kNameFmtPath = 2; // "site namefmt 1"

// A certificate that the check of the host's certificate did not trust, put to the
// operator.
struct CertificateQuestion {
    std::string host;                 // the address as typed, with the port the run uses
    std::vector<std::string> reasons; // why the check refused it, one sentence each
    std::string subject;
    std::string issuer;
    std::string validFrom;
    std::string validUntil;
    std::string fingerprint; // SHA-256, "AA:BB:..."
    // A different certificate was trusted for this host and port before: the host's identity
    // has changed, which is what an attacker in the middle looks like.
    bool identityChanged = false;
    std::string trustedFingerprint; // the one trusted before, when the identity changed
};

class ApplyUi {
public:
    virtual ~ApplyUi() = default;

    // Modal message box with one OK button and no icon, captioned "Apply Update".
    virtual void ShowMessage(const std::string& text) = 0;
    // Modal message box with the error icon and one OK button, captioned "Error".
    virtual void ErrorDialog(const std::string& text) = 0;

    // The readme acknowledgement: set once the readme dialog was closed with OK.
    virtual bool ReadmeAcknowledged() const = 0;
    // Shows the readme dialog modally and returns its modal result (mrOk or mrCancel).
    virtual int ShowReadmeModal() = 0;

    // Application-wide hourglass, and back to the default cursor.
    virtual void SetBusyCursor() = 0;
    virtual void SetNormalCursor() = 0;

    // The whole main window; a disabled window takes no input, its close box included.
    virtual void SetWindowEnabled(bool enabled) = 0;
    virtual void SetControlEnabled(ApplyControl control, bool enabled) = 0;

    virtual std::string FieldText(ApplyField field) const = 0;
    // Whether the field's text can go to the AS/400 as it is: every character has a
    // single-byte code (Latin-1). FieldText cannot say so, since it has to give bytes; the
    // procedure asks this before it reads a field for sending, and refuses a field that
    // cannot be sent instead of sending something else.
    virtual bool FieldSendable(ApplyField field) const = 0;
    // Whether "Replace Existing Update " is checked.
    virtual bool ReplaceChecked() const = 0;
    // The selected item of the advanced options' name-format group: 0, 1 or 2.
    virtual int NameFormatIndex() const = 0;
    // The advanced options' connection security and data connection.
    virtual ConnectionOptions ConnectionChoice() const = 0;
    // Asks the operator whether to trust a certificate ("Trust this certificate") or to end
    // the run ("Stop", the default). True to trust it.
    virtual bool ConfirmCertificate(const CertificateQuestion& question) = 0;

    // The status log.
    virtual void ClearLog() = 0;
    // Appends `blankLines` lines of one blank each (none for 0 or less), then `message`.
    virtual void AddLine(const std::string& message, int blankLines) = 0;

    // The progress of the save file that is being sent: `permille` (0 to 1000) of it is out,
    // and `text` says how much, how fast and how long still ("27%, 1.2 GB of 4.4 GB,
    // 112 MB/s, 29 s left"), or once it is sent, what was sent ("Sent KDX0042.SVF: 4.4 GB in
    // 39 s, 113 MB/s"). Called at most ten times a second while the data flows; the first call
    // of a run makes the progress appear. It is no line of the status log.
    virtual void ShowUploadProgress(int permille, const std::string& text) = 0;
    // The run has ended: the progress goes away until the next run's first upload.
    virtual void HideUploadProgress() = 0;

    // How the conversation with the host is protected, from the log-on to the run's end:
    // kNotSecured, or "Secured (TLS 1.3)" once the host's certificate was accepted. An empty
    // text takes it away. It is no line of the status log.
    virtual void ShowConnectionSecurity(const std::string& state) = 0;

    // Where the package is: the executable's full path and its directory (with a
    // trailing "/"), and whether a file (not a directory) exists.
    virtual std::string ExecutablePath() const = 0;
    virtual std::string ExecutableDirectory() const = 0;
    virtual bool FileExists(const std::string& path) const = 0;
};

} // namespace installer
