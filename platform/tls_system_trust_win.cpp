// The authorities that Windows trusts: the certificates of the "ROOT" store, the machine's
// and the current user's (a certificate in both counts once), each added to OpenSSL's store
// of the context. OpenSSL's own folder
// and bundle file are not read: in a build for Windows they name places of the machine that
// built it, which on another one may be any user's to fill. SSL_CERT_FILE and SSL_CERT_DIR
// still name further ones, as for OpenSSL's own tools.
#include "platform/windows_api_win.h"

#include "platform/tls_internal.h"

#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdlib>

namespace platform {
namespace {

void AddStore(X509_STORE* trusted, DWORD location) {
    HCERTSTORE store = ::CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        location | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG, L"ROOT");
    if (store == nullptr)
        return;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = ::CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        const unsigned char* der = certificate->pbCertEncoded;
        X509* parsed = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
        if (parsed == nullptr)
            continue;                         // one that OpenSSL cannot read is left out
        X509_STORE_add_cert(trusted, parsed); // the store keeps its own reference
        X509_free(parsed);
    }
    ::CertCloseStore(store, 0);
}

} // namespace

void TrustSystemAuthorities(SSL_CTX* ctx) {
    X509_STORE* trusted = SSL_CTX_get_cert_store(ctx);
    AddStore(trusted, CERT_SYSTEM_STORE_LOCAL_MACHINE);
    AddStore(trusted, CERT_SYSTEM_STORE_CURRENT_USER);
    ERR_clear_error(); // what a certificate that could not be taken left queued
    const char* bundle = std::getenv(X509_get_default_cert_file_env());
    if (bundle != nullptr && SSL_CTX_load_verify_file(ctx, bundle) != 1)
        ERR_clear_error();
    const char* folder = std::getenv(X509_get_default_cert_dir_env());
    if (folder != nullptr && SSL_CTX_load_verify_dir(ctx, folder) != 1)
        ERR_clear_error();
}

} // namespace platform
