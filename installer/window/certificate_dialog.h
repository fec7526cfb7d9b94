// The question put to the operator when the AS/400's certificate was not trusted by the
// check: the reasons, the certificate's subject, issuer, dates and SHA-256 fingerprint, and
// the choice between "Trust this certificate" and "Stop" (the default). A host whose
// certificate differs from the one trusted before gets a stronger warning.
#pragma once

#include "installer/procedure/apply_observer.h"

#include <string>

namespace installer {

// Shows the question modally; true when the operator chose "Trust this certificate".
bool AskToTrustCertificate(const CertificateQuestion& question);

} // namespace installer
