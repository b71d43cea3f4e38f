// Time stamps over a CMS signer's signature value: the unsigned attribute
// id-aa-signatureTimeStampToken, read from a signer and added to a message.
//
//   SignatureTimeStampToken ::= TimeStampToken        -- a ContentInfo of SignedData
//
// Adding changes only the signer's unsignedAttrs and the lengths of the elements above it: the
// signed attributes, the certificates, the CRLs, the content and every other unsigned attribute
// keep their bytes, so each signature of the message verifies as before. An element above the
// signer with an indefinite length keeps it (and its end-of-contents marker); definite lengths
// are written again in their shortest form.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "codec/cms/attribute.h"
#include "codec/cms/signer_info.h"
#include "codec/corekit/blob.h"

namespace Velmora::ASN1 {

// The largest signature value a signer may carry to be stamped: far above any real algorithm's
// (RSA-16384 is 2 KiB, SLH-DSA under 50 KiB).
inline constexpr std::size_t kMaxSignatureValue = 1u << 20;

// The values of the signer's signatureTimeStampToken attributes in received order (several
// attributes, several values each), each a whole DER element. A value that is not a SEQUENCE
// throws CRYPT_E_ASN1_BADTAG; a signer without the attribute gives none.
std::vector<CBlob> SignatureTimeStamps(const CSignerInfo& signer);

// The signer's signature value as the stamps cover it. An empty value throws NTE_BAD_SIGNATURE,
// one above kMaxSignatureValue CRYPT_E_ASN1_LARGE.
const CBlob& StampableSignature(const CSignerInfo& signer);

// `contentInfo` (a ContentInfo of SignedData, DER or BER) with `attribute` appended to the
// unsigned attributes of signer `index` (counted in received order); a signer without them gets
// the [1] set. Thrown: CRYPT_E_INVALID_MSG_TYPE for another content type, CRYPT_E_INVALID_INDEX
// for an index past the last signer, the reader's ASN.1 codes for a message that does not
// decode. The input is never changed.
CBlob AddUnsignedAttribute(std::span<const unsigned char> contentInfo, std::size_t index,
                           const CAttribute& attribute);

}  // namespace Velmora::ASN1
