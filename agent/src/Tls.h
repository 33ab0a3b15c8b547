// SPDX-License-Identifier: MIT
#pragma once

#include "Config.h"

#include <string>

namespace vantor::agent {

// Empty when the certificate chain and the key are PEM that GnuTLS accepts, read as the HTTPS server
// reads them (text up to a NUL byte, so a NUL is refused), and belong together;
// otherwise GnuTLS's reason, which never quotes the files.
std::string checkTlsPair(const TlsPair &pair);

} // namespace vantor::agent
