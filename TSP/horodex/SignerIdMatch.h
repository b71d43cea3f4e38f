// Whether a CMS signer identifier names a certificate: its issuer and serial number compared as
// the platform compares two certificates (a Name that does not decode matches no certificate's
// issuer), or its key identifier against the certificate's subjectKeyIdentifier (the SHA-1 of
// its key when it declares none).
#pragma once

#include "codec/cms/signer_info.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::PKI::TSP::Client {

bool SignerIdNames(const ASN1::CSignerInfo& signer, Platform::PCCERT_CONTEXT certificate);

}  // namespace Velmora::PKI::TSP::Client
