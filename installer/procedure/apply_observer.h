// What a run of the apply procedure tells the one who started it, and the one question it
// asks: the window shows it, the command line prints it, tests record it. Nothing here is
// a window's: a front end turns these into its own controls.
#pragma once

#include <string>
#include <vector>

namespace installer {

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

class ApplyObserver {
public:
    virtual ~ApplyObserver() = default;

    // The busy part of a run begins (true: nothing else may start, only a stop) and ends
    // (false: the connection is closed and the run is winding up).
    virtual void BusyChanged(bool busy) = 0;

    // The status log: cleared as the run connects; then each line after `blankLines` lines
    // of one blank each (none for 0 or less).
    virtual void ClearLog() = 0;
    virtual void AddLine(const std::string& message, int blankLines) = 0;

    // The progress of the save file that is being sent: `permille` (0 to 1000) of it is out,
    // and `text` says how much, how fast and how long still ("27%, 1.2 GB of 4.4 GB,
    // 112 MB/s, 29 s left"), or once it is sent, what was sent ("Sent KDX0042.SVF: 4.4 GB in
    // 39 s, 113 MB/s"). At most ten times a second while the data flows. No log line.
    virtual void ShowUploadProgress(int permille, const std::string& text) = 0;
    // The run has ended: no progress until the next run's first upload.
    virtual void HideUploadProgress() = 0;

    // How the conversation with the host is protected, from the log-on to the run's end:
    // kNotSecured, or "Secured (TLS 1.3)" once the host's certificate was accepted. An empty
    // text: the run has ended. No log line.
    virtual void ShowConnectionSecurity(const std::string& state) = 0;

    // Whether to trust a certificate that the check did not ("Trust this certificate"), or
    // to end the run ("Stop", the default). True to trust it.
    virtual bool ConfirmCertificate(const CertificateQuestion& question) = 0;
};

} // namespace installer
