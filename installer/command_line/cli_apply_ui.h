// The apply procedure's window for a run without one: the status log goes to standard
// output line by line, what the window shows in message boxes goes to standard error, and
// the fields hold what the command line and the descriptor gave. Nothing waits for an
// operator: the readme must have been confirmed beforehand (--readme-read).
#pragma once

#include "installer/procedure/apply_ui.h"

#include <cstdio>
#include <map>
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

class CliApplyUi : public ApplyUi {
public:
    // `packageDirectory` is absolute with a trailing "/".
    CliApplyUi(std::string packageDirectory, LineOutput& log, LineOutput& errors);

    // The texts of the four fields, in Latin-1.
    std::map<ApplyField, std::string> fields;
    bool replace = false;
    int nameFormat = kNameFmtNoOverride;
    bool readmeRead = false;
    ConnectionOptions connection;
    std::string trustedFingerprint; // as given, any letter case, with or without colons

    void ShowMessage(const std::string& text) override;
    void ErrorDialog(const std::string& text) override;
    bool ReadmeAcknowledged() const override { return readmeRead; }
    int ShowReadmeModal() override;
    void SetBusyCursor() override {}
    void SetNormalCursor() override {}
    void SetWindowEnabled(bool) override {}
    void SetControlEnabled(ApplyControl, bool) override {}
    std::string FieldText(ApplyField field) const override;
    // The command line's fields were converted to Latin-1, or refused, before the run.
    bool FieldSendable(ApplyField) const override { return true; }
    bool ReplaceChecked() const override { return replace; }
    int NameFormatIndex() const override { return nameFormat; }
    ConnectionOptions ConnectionChoice() const override { return connection; }
    // Nobody can be asked: only the certificate whose fingerprint the command line names
    // (--trusted-fingerprint) is trusted; any other is described on standard error.
    bool ConfirmCertificate(const CertificateQuestion& question) override;
    // Lines already printed stay printed; a run prints nothing before it clears the log.
    void ClearLog() override {}
    void AddLine(const std::string& message, int blankLines) override;
    // Standard output carries the status log and nothing else.
    void ShowUploadProgress(int, const std::string&) override {}
    void HideUploadProgress() override {}
    // A run without TLS gets one warning on standard error; standard output stays the log's.
    void ShowConnectionSecurity(const std::string& state) override;
    std::string ExecutablePath() const override;
    std::string ExecutableDirectory() const override { return packageDirectory_; }
    // The package's files come from the package folder only: a relative name is never
    // looked up in the current folder, where a stray file of the same name could be sent
    // instead of the package's.
    bool FileExists(const std::string& path) const override;

private:
    std::string packageDirectory_;
    LineOutput& log_;
    LineOutput& errors_;
};

} // namespace installer
