// A bounds-checked reader of DER, with the few BER forms that real TSAs send.
//
// Tags and lengths must be well formed, a definite length must fit in what remains of its parent
// (checked before anything is allocated), lengths must be in their shortest form, nesting is
// bounded, and a reader that is finished with leftover bytes refuses them.
//
// Two profiles say where BER's other length and string forms are allowed:
//   - Profile::Ber, for the outer layers as real TSAs send them (TimeStampResp, ContentInfo,
//     SignedData, the certificate bag): indefinite lengths on constructed elements, ended by an
//     end-of-contents marker, and constructed OCTET STRINGs, whose segments ReadOctetString()
//     joins;
//   - Profile::Der, for what a signature covers as DER (the TSTInfo, the signed attributes): an
//     indefinite length or a constructed string anywhere inside is refused, exactly as a length
//     in a longer form than needed is.
// A reader's elements, and the readers of their members, keep the profile they were read in;
// InProfile() reads an element met in a BER layer under the DER rule.
//
// Either profile tolerates these forms, each accepted at the place that needs it:
//   - INTEGERs with needless leading bytes, and negative ones (serial numbers);
//   - BIT STRINGs with trailing zero bytes or set unused bits (failInfo);
//   - SET OF whose members are not in DER order (the reader never checks the order);
//   - GeneralizedTime with any number of fraction digits (kept to the microsecond).
// Failures throw CAtlException with the platform's ASN.1 codes: CRYPT_E_ASN1_EOD when data ends
// too soon, CRYPT_E_ASN1_BADTAG for a wrong tag, CRYPT_E_ASN1_LARGE for nesting too deep or a
// value too large, and CRYPT_E_ASN1_ERROR for any other corrupt encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Velmora::ASN1::Der {

using Bytes = std::span<const std::uint8_t>;

enum class TagClass : std::uint8_t { Universal = 0, Application = 1, Context = 2, Private = 3 };

struct Tag {
  TagClass cls = TagClass::Universal;
  bool constructed = false;
  std::uint32_t number = 0;

  friend bool operator==(const Tag&, const Tag&) = default;
};

// Universal tags the codec meets.
namespace Tags {
inline constexpr Tag Boolean{TagClass::Universal, false, 1};
inline constexpr Tag Integer{TagClass::Universal, false, 2};
inline constexpr Tag BitString{TagClass::Universal, false, 3};
inline constexpr Tag OctetString{TagClass::Universal, false, 4};
inline constexpr Tag Null{TagClass::Universal, false, 5};
inline constexpr Tag Oid{TagClass::Universal, false, 6};
inline constexpr Tag Enumerated{TagClass::Universal, false, 10};
inline constexpr Tag Utf8String{TagClass::Universal, false, 12};
inline constexpr Tag Sequence{TagClass::Universal, true, 16};
inline constexpr Tag Set{TagClass::Universal, true, 17};
inline constexpr Tag NumericString{TagClass::Universal, false, 18};
inline constexpr Tag PrintableString{TagClass::Universal, false, 19};
inline constexpr Tag TeletexString{TagClass::Universal, false, 20};
inline constexpr Tag Ia5String{TagClass::Universal, false, 22};
inline constexpr Tag UtcTime{TagClass::Universal, false, 23};
inline constexpr Tag GeneralizedTime{TagClass::Universal, false, 24};
inline constexpr Tag VisibleString{TagClass::Universal, false, 26};
inline constexpr Tag UniversalString{TagClass::Universal, false, 28};
inline constexpr Tag BmpString{TagClass::Universal, false, 30};
}  // namespace Tags

constexpr Tag ContextTag(std::uint32_t number, bool constructed) {
  return Tag{TagClass::Context, constructed, number};
}

// Deepest nesting of constructed elements the reader follows.
inline constexpr int kMaxDepth = 32;

enum class Profile : std::uint8_t { Ber, Der };

class Reader;

// One element as received: its tag, its content octets and the whole encoding (tag, length,
// content and, for indefinite lengths, the end-of-contents marker).
struct Element {
  Tag tag;
  Bytes content;
  Bytes encoded;
  bool indefinite = false;
  Profile profile = Profile::Ber;  // in the padding after `indefinite`: the layout is unchanged
  int depth = 0;

  // A reader over the members of a constructed element, in the element's profile.
  Reader children() const;
};

class Reader {
 public:
  explicit Reader(Bytes data, int depth = 0);  // Profile::Ber
  Reader(Bytes data, int depth, Profile profile);

  bool empty() const noexcept { return m_pos == m_data.size(); }
  std::size_t remaining() const noexcept { return m_data.size() - m_pos; }
  // The tag of the next element, or nothing at the end.
  std::optional<Tag> peekTag() const;
  bool nextIs(const Tag& tag) const;

  // Reads the next element, whatever its tag.
  Element next();
  // Reads the next element and refuses any other tag.
  Element expect(const Tag& tag);
  // Reads the next element only when it has the given tag.
  std::optional<Element> optional(const Tag& tag);
  // Refuses leftover bytes.
  void finish() const;

 private:
  Bytes m_data;
  std::size_t m_pos = 0;
  int m_depth = 0;
  Profile m_profile = Profile::Ber;
};

// Reads exactly one element that fills all of `data`. Under Profile::Der the whole element, every
// level of it, is held to the DER rule before it is returned.
Element ReadSingle(Bytes data);  // Profile::Ber
Element ReadSingle(Bytes data, Profile profile);
// The element as read under `profile`: for Profile::Der, every level of it is held to the DER
// rule (CRYPT_E_ASN1_ERROR otherwise) and its members are read under it.
Element InProfile(const Element& e, Profile profile);

// Primitive readers. Each checks the element's tag first.
bool ReadBoolean(const Element& e);
// The content octets of an INTEGER, as received (two's complement, big-endian, non-empty).
Bytes ReadIntegerBytes(const Element& e);
// A small non-negative INTEGER (version fields, PKIStatus); refuses values above `max`.
std::uint64_t ReadSmallUnsigned(const Element& e, std::uint64_t max);
// Dotted text of an OBJECT IDENTIFIER.
std::string ReadOid(const Element& e);
// The joined contents of an OCTET STRING, primitive or constructed (BER).
std::vector<std::uint8_t> ReadOctetString(const Element& e);
// A BIT STRING as (unused bit count, content bytes after the unused-bits octet).
struct BitString {
  std::uint8_t unusedBits = 0;
  std::vector<std::uint8_t> bytes;
};
BitString ReadBitString(const Element& e);
void ReadNull(const Element& e);

// A point in time as seconds since 1970-01-01 UTC plus microseconds.
struct Time {
  std::int64_t seconds = 0;
  std::uint32_t micros = 0;
};
Time ReadGeneralizedTime(const Element& e);
Time ReadUtcTime(const Element& e);

// Throws the codec's exception with the given code.
[[noreturn]] void Fail(std::int32_t hr);

}  // namespace Velmora::ASN1::Der
