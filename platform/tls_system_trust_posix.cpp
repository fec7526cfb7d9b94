// The authorities that a POSIX system trusts, as OpenSSL finds them there.
#include "platform/tls_internal.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdlib>

namespace platform {

// The system's authorities where OpenSSL looks for them: its hashed folder, looked up only
// for the certificate at hand, and its bundle file, read whole; SSL_CERT_DIR and
// SSL_CERT_FILE name others, as for OpenSSL's own tools. Either may be missing.
void TrustSystemAuthorities(SSL_CTX* ctx) {
    const char* folder = secure_getenv(X509_get_default_cert_dir_env());
    const char* bundle = secure_getenv(X509_get_default_cert_file_env());
    if (SSL_CTX_load_verify_dir(ctx, folder != nullptr ? folder : X509_get_default_cert_dir()) != 1)
        ERR_clear_error();
    if (SSL_CTX_load_verify_file(ctx, bundle != nullptr ? bundle : X509_get_default_cert_file()) !=
        1)
        ERR_clear_error(); // a system without a trust store still takes a CA file
}

} // namespace platform
