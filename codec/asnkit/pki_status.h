// The status of a TimeStampResp.
//
//   PKIStatusInfo ::= SEQUENCE {
//     status        PKIStatus,
//     statusString  PKIFreeText     OPTIONAL,
//     failInfo      PKIFailureInfo  OPTIONAL }
//   PKIStatus ::= INTEGER
//   PKIFreeText ::= SEQUENCE SIZE (1..MAX) OF UTF8String
//   PKIFailureInfo ::= BIT STRING { badAlg (0), badRequest (2), badDataFormat (5),
//     timeNotAvailable (14), unacceptedPolicy (15), unacceptedExtension (16),
//     addInfoNotAvailable (17), systemFailure (25) }
#pragma once

#include <optional>
#include <string>

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

// One text of a PKIFreeText, as Unicode code points.
class CPKIFreeTextString {
 public:
  CPKIFreeTextString() = default;
  explicit CPKIFreeTextString(std::wstring text) : m_text(std::move(text)) {}
  explicit CPKIFreeTextString(const wchar_t* text) : m_text(text != nullptr ? text : L"") {}

  const wchar_t* c_str() const noexcept { return m_text.c_str(); }
  const std::wstring& str() const noexcept { return m_text; }

  friend bool operator==(const CPKIFreeTextString&, const CPKIFreeTextString&) = default;

 private:
  std::wstring m_text;
};

// The texts in order. Only UTF8String members are read, as RFC 3161 defines them; another string
// type is refused with CRYPT_E_ASN1_BADTAG, bad UTF-8 with CRYPT_E_ASN1_ERROR, and an empty list
// with CRYPT_E_ASN1_ERROR (SIZE (1..MAX)).
class CPKIFreeText : public CDllList<CPKIFreeTextString> {
 public:
  // All texts joined in order with nothing between them.
  std::wstring joined() const;

  void decode(const CBlob& der);
  // An empty list throws ERROR_INVALID_STATE.
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal
};

// The failure bits. Bit n of the value is (1u << n), n being the bit number that RFC 3161 gives
// the failure (the named bits below); in the BIT STRING, bit n is bit (7 - n % 8) of content octet
// n / 8, that is bit 0 is the most significant bit of the first octet.
// Reading tolerates the non-DER forms TSAs send: trailing zero octets, and set bits in the unused
// part of the last octet (masked off; they are not bits of the string). A set bit numbered 32 or
// more cannot be held and is refused with CRYPT_E_ASN1_LARGE; clear ones are accepted.
// Writing gives the DER named-bit-list form: no trailing zero bits, the last octet's unused bits
// counted, and 03 01 00 for no bit at all.
class CPKIFailureInfo {
 public:
  static constexpr unsigned kBadAlg = 0;
  static constexpr unsigned kBadRequest = 2;
  static constexpr unsigned kBadDataFormat = 5;
  static constexpr unsigned kTimeNotAvailable = 14;
  static constexpr unsigned kUnacceptedPolicy = 15;
  static constexpr unsigned kUnacceptedExtension = 16;
  static constexpr unsigned kAddInfoNotAvailable = 17;
  static constexpr unsigned kSystemFailure = 25;

  CPKIFailureInfo() = default;
  explicit CPKIFailureInfo(unsigned int bits) : m_value(bits) {}

  unsigned int get_value() const noexcept { return m_value; }
  // Whether failure bit `n` is set; false for n of 32 or more.
  bool get_bit(unsigned n) const noexcept { return n < 32 && (m_value >> n & 1u) != 0; }

  friend bool operator==(const CPKIFailureInfo&, const CPKIFailureInfo&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  unsigned int m_value = 0;
};

class CPKIStatusInfo {
 public:
  CPKIStatusInfo() = default;
  explicit CPKIStatusInfo(unsigned long status) : m_status(status) {}

  // The status as received. RFC 3161 defines 0 granted to 5 revocationNotification, but any
  // value from 0 to 0xFFFFFFFF is read (callers judge the others); a negative one is refused with
  // CRYPT_E_ASN1_ERROR, a larger one with CRYPT_E_ASN1_LARGE.
  unsigned long get_pkiStatus() const noexcept { return m_status; }
  // Values above 0xFFFFFFFF throw E_INVALIDARG.
  void put_pkiStatus(unsigned long status);

  // Null when absent.
  const CPKIFreeText* get_statusString() const noexcept {
    return m_statusString ? &*m_statusString : nullptr;
  }
  // Null, or an empty list, removes it.
  void put_statusString(const CPKIFreeText* text);

  // The failure bits; value 0 when absent.
  CPKIFailureInfo get_failureInfo() const noexcept {
    return m_failureInfo.value_or(CPKIFailureInfo());
  }
  bool has_failureInfo() const noexcept { return m_failureInfo.has_value(); }
  // Null removes it; a given value is written even when it has no bit set.
  void put_failureInfo(const CPKIFailureInfo* info);

  friend bool operator==(const CPKIStatusInfo&, const CPKIStatusInfo&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  unsigned long m_status = 0;
  std::optional<CPKIFreeText> m_statusString;
  std::optional<CPKIFailureInfo> m_failureInfo;
};

}  // namespace Velmora::ASN1
