// Codec-internal helpers shared by the asnkit classes: whole-element decoding into a value and
// encoding of a value through its write() hook.
#pragma once

#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

// Reads `der`, which must hold exactly one element, into `target` through its read() hook.
// read() is transactional, so a failure leaves `target` as it was.
template <typename T>
void DecodeWhole(T& target, const CBlob& der) {
  target.read(Der::ReadSingle(der.span()));
}

// The DER that `value.write()` produces.
template <typename T>
CBlob EncodeWhole(const T& value) {
  Der::Writer writer;
  value.write(writer);
  return CBlob(writer.take());
}

inline CBlob ToBlob(Der::Bytes bytes) {
  return CBlob(bytes);
}

}  // namespace Velmora::ASN1
