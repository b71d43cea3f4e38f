// What the signature time-stamp tests share: a stamp's token, and a message with a token put
// under a signer by hand (for stamps over the wrong bytes, which the library refuses to add).
#pragma once

#include <cstddef>

#include "codec/cms/signature_time_stamps.h"
#include "horodex/TSPStamp.h"

namespace Velmora::Testing {

inline CBlob TokenOf(const PKI::TSP::Client::CStamp& stamp) {
  unsigned long size = 0;
  stamp.Export(nullptr, &size);
  CBlob token(size);
  stamp.Export(token.pbData(), &size);
  return token;
}

inline CBlob WithSignatureStamp(const CBlob& message, std::size_t signer, const CBlob& token) {
  CBlobList values;
  values.push_back(token);
  return ASN1::AddUnsignedAttribute(
      message.span(), signer,
      ASN1::CAttribute(ASN1::AttributeOids::SignatureTimeStampToken, values));
}

}  // namespace Velmora::Testing
