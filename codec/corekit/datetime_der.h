// Conversions between CDateTime and the DER codec's Time (GeneralizedTime, UTCTime values).
#pragma once

#include "codec/corekit/datetime.h"
#include "codec/der/der_reader.h"

namespace Velmora {

// The instant a decoded time names. A time outside the years 0000 to 9999 throws E_INVALIDARG
// (the reader never yields one).
inline CDateTime FromDerTime(const ASN1::Der::Time& time) {
  return CDateTime(time.seconds, time.micros);
}

// The same instant for the DER writer; exact to the microsecond.
inline ASN1::Der::Time ToDerTime(const CDateTime& time) noexcept {
  ASN1::Der::Time result;
  result.seconds = time.seconds();
  result.micros = time.microseconds();
  return result;
}

}  // namespace Velmora
