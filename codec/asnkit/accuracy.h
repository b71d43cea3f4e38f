// CAccuracy: the accuracy of a TSTInfo's genTime.
//
//   Accuracy ::= SEQUENCE {
//     seconds  INTEGER            OPTIONAL,
//     millis   [0] INTEGER (1..999) OPTIONAL,   -- implicit tags
//     micros   [1] INTEGER (1..999) OPTIONAL }
//
// A missing field counts as zero (RFC 3161, 2.4.2), so the getters return 0 for it. Reading
// refuses a negative value (CRYPT_E_ASN1_ERROR), seconds above 0xFFFFFFFF (CRYPT_E_ASN1_LARGE)
// and millis or micros outside 1..999 (CRYPT_E_ASN1_ERROR): 1000 ms is no longer a count of
// milliseconds, and 0 must be written by leaving the field out. OpenSSL's responder keeps to the
// same ranges.
#pragma once

#include <optional>

#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

class CAccuracy {
 public:
  CAccuracy() = default;
  // The setters' rules apply.
  CAccuracy(unsigned long seconds, unsigned long millis, unsigned long micros);

  unsigned long get_seconds() const noexcept { return m_seconds.value_or(0); }
  unsigned long get_millis() const noexcept { return m_millis.value_or(0); }
  unsigned long get_micros() const noexcept { return m_micros.value_or(0); }
  bool has_seconds() const noexcept { return m_seconds.has_value(); }
  bool has_millis() const noexcept { return m_millis.has_value(); }
  bool has_micros() const noexcept { return m_micros.has_value(); }

  // 0 leaves the field out. Seconds above 0xFFFFFFFF, millis or micros above 999 throw
  // E_INVALIDARG.
  void put_seconds(unsigned long seconds);
  void put_millis(unsigned long millis);
  void put_micros(unsigned long micros);

  friend bool operator==(const CAccuracy&, const CAccuracy&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  std::optional<unsigned long> m_seconds;
  std::optional<unsigned long> m_millis;
  std::optional<unsigned long> m_micros;
};

}  // namespace Velmora::ASN1
