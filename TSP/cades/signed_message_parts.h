// What making and verifying signature time stamps share: reading the message (PEM or binary),
// finding a signer's certificate and naming the signer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "TSP/horodex/CapiHandles.h"
#include "TSP/horodex/CertStoreHandle.h"
#include "TSP/horodex/SignerIdMatch.h"
#include "codec/cms/signed_data.h"
#include "codec/corekit/blob.h"

namespace Velmora::PKI::TSP::Client {

// A message as read: the ContentInfo's bytes (DER or BER as received) and the PEM label it came
// under (empty for a binary file).
struct MessageBytes {
  CBlob contentInfo;
  std::string pemLabel;
};
// The ContentInfo of `data`: the first PEM block's contents when the text has one ("-----BEGIN
// LABEL-----"), the bytes themselves otherwise. A PEM block without its end line or with text
// that is not Base64 throws CRYPT_E_ASN1_ERROR.
MessageBytes ReadMessageBytes(const unsigned char* data, std::size_t length);
// The PEM text of `contentInfo` under `label`, 64 characters to a line.
CBlob PemOf(const CBlob& contentInfo, const std::string& label);

// The signers of a decoded message, in received order.
std::vector<const ASN1::CSignerInfo*> SignersOf(const ASN1::CSignedData& message);

// A store with the message's certificates (and later the tokens' and the caller's).
CertStoreHandle CertificatesOf(const ASN1::CSignedData& message);
// The first certificate of `store` that the signer's identifier names, or null.
CertContextPtr FindSignerCertificate(const ASN1::CSignerInfo& signer, Platform::HCERTSTORE store);
// The subject of `certificate` when given, else the signer's identifier, as display text.
std::string SignerName(const ASN1::CSignerInfo& signer, Platform::PCCERT_CONTEXT certificate);

// The hash of `data` under a hash ALG_ID of the platform; the platform's code on failure.
CBlob HashOf(Platform::ALG_ID algorithm, const CBlob& data);

}  // namespace Velmora::PKI::TSP::Client
