// SPDX-License-Identifier: MIT
#include "Tls.h"

#include <gnutls/gnutls.h>

#include <memory>

namespace vantor::agent {

std::string checkTlsPair(const TlsPair &pair)
{
    // The HTTPS server takes each file as C text and so reads it only up to a NUL byte, where GnuTLS,
    // given the whole file, would look past it.
    if (pair.certificate.find('\0') != std::string::npos) return "the certificate file holds a NUL byte";
    if (pair.key.find('\0') != std::string::npos) return "the key file holds a NUL byte";
    gnutls_certificate_credentials_t made = nullptr;
    if (gnutls_certificate_allocate_credentials(&made) < 0) return "out of memory";
    const std::unique_ptr<gnutls_certificate_credentials_st, decltype(&gnutls_certificate_free_credentials)>
        credentials(made, &gnutls_certificate_free_credentials);
    // The same call the HTTPS server makes with the pair: it parses both and refuses a key that
    // does not belong to the first certificate.
    gnutls_datum_t certificate{reinterpret_cast<unsigned char *>(const_cast<char *>(pair.certificate.data())),
                               static_cast<unsigned>(pair.certificate.size())};
    gnutls_datum_t key{reinterpret_cast<unsigned char *>(const_cast<char *>(pair.key.data())),
                       static_cast<unsigned>(pair.key.size())};
    const int result =
        gnutls_certificate_set_x509_key_mem(credentials.get(), &certificate, &key, GNUTLS_X509_FMT_PEM);
    return result < 0 ? std::string(gnutls_strerror(result)) : std::string();
}

} // namespace vantor::agent
