// What a run without a window tells: the status log goes to standard output line by line,
// warnings and refusals go to standard error. Nothing waits for an operator.
#pragma once

#include "installer/procedure/apply_observer.h"

#include <cstdio>
#include <string>

namespace installer {

// Writes lines to a stream at once (another program reads them as they come) and as UTF-8
// that is safe for a terminal. A stream that cannot be written (a reader that went away)
// does not stop the run.
class LineOutput {
public:
    explicit LineOutput(std::FILE* stream, std::string prefix = "")
        : stream_(stream), prefix_(std::move(prefix)) {}
    // A line in the installer's own Latin-1.
    void Latin1(const std::string& line);
    // A line that is already UTF-8 (the command line's own texts, paths).
    void Utf8(const std::string& line);

private:
    std::FILE* stream_;
    std::string prefix_;
};

class CliObserver : public ApplyObserver {
public:
    CliObserver(LineOutput& log, LineOutput& errors) : log_(log), errors_(errors) {}

    // The certificate to trust beyond the check: its SHA-256 fingerprint as given (any
    // letter case, with or without colons), or empty for none.
    std::string trustedFingerprint;

    void BusyChanged(bool) override {}
    // Nobody can be asked: only the certificate whose fingerprint the command line names
    // (--trusted-fingerprint) is trusted; any other is described on standard error.
    bool ConfirmCertificate(const CertificateQuestion& question) override;
    // Lines already printed stay printed; a run prints nothing before it clears the log.
    void ClearLog() override {}
    void AddLine(const std::string& message, int blankLines) override;
    // Standard output carries the status log and nothing else.
    void ShowUploadProgress(int, const std::string&) override {}
    void HideUploadProgress() override {}
    // A run without TLS gets one warning on standard error.
    void ShowConnectionSecurity(const std::string& state) override;

private:
    LineOutput& log_;
    LineOutput& errors_;
};

} // namespace installer
