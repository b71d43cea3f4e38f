// CBigInteger: an INTEGER of any size, held as its two's-complement big-endian bytes.
//
//   CertificateSerialNumber ::= INTEGER,  Nonce ::= INTEGER
//
// The bytes are kept exactly as received: a serial number with needless leading bytes or a
// negative one is read back byte for byte (some TSAs send both). encode() writes the shortest
// form. An empty CBigInteger stands for an absent value; if it is encoded anyway it is zero.
#pragma once

#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

class CBigInteger : public CBlob {
 public:
  CBigInteger() = default;
  // `size` zero bytes, to be filled through pbData().
  explicit CBigInteger(unsigned long size) : CBlob(size) {}
  // The two's-complement bytes given.
  explicit CBigInteger(const CBlob& bytes) : CBlob(bytes) {}

  // |value| in its shortest two's-complement form: negatives are negated, redundant sign bytes
  // dropped, and a 0x00 put in front when the magnitude's top bit is set (so 0x80 gives 00 80,
  // and the result never reads as negative). An empty value gives an empty one.
  CBigInteger abs() const;
  // True when the top bit of the first byte is set.
  bool isNegative() const noexcept;

  // Byte-wise comparison of the held bytes (so 00 7F and 7F differ).
  friend bool operator==(const CBigInteger& a, const CBigInteger& b) noexcept {
    return static_cast<const CBlob&>(a) == static_cast<const CBlob&>(b);
  }
  // Numeric comparison: the same integer, whatever sign padding either side carries.
  bool sameValue(const CBigInteger& other) const noexcept;

  // From a complete DER INTEGER; another tag is CRYPT_E_ASN1_BADTAG, trailing bytes
  // CRYPT_E_ASN1_ERROR, and the object stays as it was on failure.
  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal
};

}  // namespace Velmora::ASN1
