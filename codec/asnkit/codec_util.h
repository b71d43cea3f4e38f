// Codec-internal helpers shared by the asnkit classes: whole-element decoding into a value and
// encoding of a value through its write() hook.
#pragma once

#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

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

// ERROR_INVALID_STATE as an HRESULT: a value used before it was given what it needs (an encode()
// of an empty CHOICE or of a list that must not be empty).
inline constexpr Platform::HRESULT kInvalidState = Platform::MakeHResult(0x8007139F);

[[noreturn]] inline void ThrowInvalidState() {
  Platform::AtlThrow(kInvalidState);
}

// Checks dotted OID text as the writer would encode it: null throws E_INVALIDARG, text that is not
// an OID CRYPT_E_OID_FORMAT. "" is accepted when `allowEmpty`.
inline void CheckOidText(const char* oid, bool allowEmpty) {
  if (oid == nullptr) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  if (*oid == '\0' && allowEmpty) {
    return;
  }
  (void)Der::EncodeOidContent(oid);
}

inline CBlob ToBlob(Der::Bytes bytes) {
  return CBlob(bytes);
}

}  // namespace Velmora::ASN1
