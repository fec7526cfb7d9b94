#include "installer/command_line/cli_apply_ui.h"

#include "installer/command_line/cli_options.h"
#include "installer/command_line/cli_text.h"
#include "installer/procedure/apply_texts.h"
#include "installer/procedure/certificate_trust.h"
#include "installer/procedure/program_values.h"
#include "platform/paths.h"

namespace installer {

void LineOutput::Latin1(const std::string& line) {
    Utf8(Latin1ToUtf8(line));
}

void LineOutput::Utf8(const std::string& line) {
    const std::string text = prefix_ + TerminalSafe(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}

CliApplyUi::CliApplyUi(std::string packageDirectory, LineOutput& log, LineOutput& errors)
    : packageDirectory_(std::move(packageDirectory)), log_(log), errors_(errors) {}

void CliApplyUi::ShowMessage(const std::string& text) {
    for (const std::string& line : MessageLines(text))
        errors_.Latin1(line);
}

void CliApplyUi::ErrorDialog(const std::string& text) {
    ShowMessage(text);
}

void CliApplyUi::ShowConnectionSecurity(const std::string& state) {
    if (state == kNotSecured)
        errors_.Utf8(std::string("warning: not secured: ") + kNotSecuredDetail +
                     " Use --security tls where the host has a certificate.");
}

int CliApplyUi::ShowReadmeModal() {
    // Only reached when the readme appeared after the package check.
    errors_.Utf8("The package has a readme, " + packageDirectory_ + kReadmeName +
                 ". Read it, then run again with --readme-read.");
    return mrCancel;
}

namespace {

// A fingerprint as hex digits only, upper case: "aa:bb" and "AABB" name the same one.
std::string FingerprintDigits(const std::string& text) {
    std::string digits;
    for (const char c : text)
        if (c != ':')
            digits += static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    return digits;
}

} // namespace

bool CliApplyUi::ConfirmCertificate(const CertificateQuestion& question) {
    if (!trustedFingerprint.empty() &&
        FingerprintDigits(trustedFingerprint) == FingerprintDigits(question.fingerprint))
        return true;
    for (const std::string& line : MessageLines(CertificateQuestionText(question)))
        errors_.Latin1(line);
    errors_.Utf8("To trust this certificate, run again with --trusted-fingerprint " +
                 question.fingerprint + " (or name its authority with --ca-file).");
    return false;
}

std::string CliApplyUi::FieldText(ApplyField field) const {
    const auto found = fields.find(field);
    return found == fields.end() ? std::string() : found->second;
}

void CliApplyUi::AddLine(const std::string& message, int blankLines) {
    for (const std::string& line : StatusLogLines(message, blankLines))
        log_.Latin1(line);
}

std::string CliApplyUi::ExecutablePath() const {
    return packageDirectory_ + kCliProgramName;
}

bool CliApplyUi::FileExists(const std::string& path) const {
    return !path.empty() && path.front() == '/' && platform::FileExists(path);
}

} // namespace installer
