// Whether a run may go on with the certificate a host showed. A certificate that the check
// trusts (its chain leads to an authority of the system or of the package's CA file, its
// dates hold and it names the host typed) is taken as it is. Any other is put to the
// operator, once: one that the operator trusted for this host and port is taken again
// without a question, as long as it is exactly that certificate (its SHA-256 fingerprint).
// When the host shows another one, the operator is warned that its identity has changed.
#pragma once

#include "platform/tls_verification.h"

#include <string>

namespace installer {

class ApplyObserver;
struct CertificateQuestion;

// What the operator is shown about the certificate (the window's question, the command
// line's complaint).
std::string CertificateQuestionText(const CertificateQuestion& question);

// `host` is the address as typed (without the port), `port` the one the run uses.
// `machineSettings`: whether the fingerprints trusted on this machine (KDXInst.Ini) are read
// and a newly trusted one is written there.
bool CertificateTrusted(ApplyObserver& observer, const platform::TlsVerification& verification,
                        const std::string& host, int port, bool machineSettings);

} // namespace installer
