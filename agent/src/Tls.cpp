// SPDX-License-Identifier: MIT
#include "Tls.h"

#include <gnutls/gnutls.h>

namespace vantor::agent {

std::string checkTlsPair(const TlsPair &pair)
{
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) < 0) return "out of memory";
    // The same call the HTTPS server makes with the pair: it parses both and refuses a key that
    // does not belong to the first certificate.
    gnutls_datum_t certificate{reinterpret_cast<unsigned char *>(const_cast<char *>(pair.certificate.data())),
                               static_cast<unsigned>(pair.certificate.size())};
    gnutls_datum_t key{reinterpret_cast<unsigned char *>(const_cast<char *>(pair.key.data())),
                       static_cast<unsigned>(pair.key.size())};
    const int result =
        gnutls_certificate_set_x509_key_mem(credentials, &certificate, &key, GNUTLS_X509_FMT_PEM);
    gnutls_certificate_free_credentials(credentials);
    return result < 0 ? std::string(gnutls_strerror(result)) : std::string();
}

} // namespace vantor::agent
