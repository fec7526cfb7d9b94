#include "installer/command_line/cli_observer.h"

#include "installer/command_line/cli_text.h"
#include "installer/procedure/apply_texts.h"
#include "installer/procedure/certificate_trust.h"

namespace installer {

void LineOutput::Latin1(const std::string& line) {
    Utf8(Latin1ToUtf8(line));
}

void LineOutput::Utf8(const std::string& line) {
    const std::string text = prefix_ + TerminalSafe(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}

void CliObserver::ShowConnectionSecurity(const std::string& state) {
    if (state == kNotSecured)
        errors_.Utf8(std::string("warning: not secured: ") + kNotSecuredDetail +
                     " Use --security tls where the host has a certificate.");
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

bool CliObserver::ConfirmCertificate(const CertificateQuestion& question) {
    if (!trustedFingerprint.empty() &&
        FingerprintDigits(trustedFingerprint) == FingerprintDigits(question.fingerprint))
        return true;
    for (const std::string& line : MessageLines(CertificateQuestionText(question)))
        errors_.Latin1(line);
    errors_.Utf8("To trust this certificate, run again with --trusted-fingerprint " +
                 question.fingerprint + " (or name its authority with --ca-file).");
    return false;
}

void CliObserver::AddLine(const std::string& message, int blankLines) {
    for (const std::string& line : StatusLogLines(message, blankLines))
        log_.Latin1(line);
}

} // namespace installer
