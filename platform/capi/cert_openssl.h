// The bridge from a certificate context to OpenSSL, for the chain and signature checks that need
// OpenSSL's own certificate object. Everything else about a certificate is read by our codec.
#pragma once

#include <openssl/x509.h>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform {

// OpenSSL's X509 of the context's certificate. The bytes go to d2i_X509 on the first call for a
// certificate and the result is kept with it, shared by every context of that certificate (its
// store copies included), so later calls cost nothing. The X509 belongs to the context: take a
// reference (X509_up_ref) to keep it longer. Null with CRYPT_E_ASN1_ERROR as the last error when
// OpenSSL refuses the bytes, or E_INVALIDARG for a null context.
X509* CertContextGetX509(PCCERT_CONTEXT pCertContext);

}  // namespace Velmora::Platform
