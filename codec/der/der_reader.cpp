#include "codec/der/der_reader.h"

#include <charconv>

#include "codec/corekit/civil_calendar.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::ASN1::Der {

using Platform::CRYPT_E_ASN1_BADTAG;
using Platform::CRYPT_E_ASN1_EOD;
using Platform::CRYPT_E_ASN1_ERROR;
using Platform::CRYPT_E_ASN1_LARGE;

void Fail(std::int32_t hr) {
  throw Platform::CAtlException(hr);
}

namespace {

struct Header {
  Tag tag;
  std::size_t headerLength = 0;
  std::size_t contentLength = 0;  // not meaningful when indefinite
  bool indefinite = false;
};

// Reads the identifier and length octets at `pos`. A definite length must fit in `data`.
Header ParseHeader(Bytes data, std::size_t pos, Profile profile = Profile::Ber) {
  Header h;
  std::size_t p = pos;
  auto take = [&]() -> std::uint8_t {
    if (p >= data.size()) {
      Fail(CRYPT_E_ASN1_EOD);
    }
    return data[p++];
  };

  const std::uint8_t first = take();
  h.tag.cls = static_cast<TagClass>(first >> 6);
  h.tag.constructed = (first & 0x20) != 0;
  h.tag.number = first & 0x1Fu;
  if (h.tag.number == 0x1F) {
    // High tag number: base-128, minimal, at most four octets.
    std::uint32_t number = 0;
    for (int i = 0;; ++i) {
      const std::uint8_t b = take();
      if (i == 0 && b == 0x80) {
        Fail(CRYPT_E_ASN1_ERROR);
      }
      if (i == 4) {
        Fail(CRYPT_E_ASN1_LARGE);
      }
      number = (number << 7) | (b & 0x7Fu);
      if ((b & 0x80) == 0) {
        break;
      }
    }
    if (number < 0x1F) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    h.tag.number = number;
  }

  const std::uint8_t lengthByte = take();
  if (lengthByte < 0x80) {
    h.contentLength = lengthByte;
  } else if (lengthByte == 0x80) {
    // Indefinite length: BER, and only on constructed elements.
    if (!h.tag.constructed || profile == Profile::Der) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    h.indefinite = true;
  } else {
    const int count = lengthByte & 0x7F;
    if (count == 0x7F) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    if (count > 4) {
      Fail(CRYPT_E_ASN1_LARGE);
    }
    std::size_t length = 0;
    for (int i = 0; i < count; ++i) {
      const std::uint8_t b = take();
      if (i == 0 && b == 0) {
        Fail(CRYPT_E_ASN1_ERROR);  // leading zero octet: not the shortest form
      }
      length = (length << 8) | b;
    }
    if (length < 0x80) {
      Fail(CRYPT_E_ASN1_ERROR);  // the long form used for a short length
    }
    h.contentLength = length;
  }
  h.headerLength = p - pos;
  if (!h.indefinite && h.contentLength > data.size() - p) {
    Fail(CRYPT_E_ASN1_EOD);  // promises more than the input holds
  }
  return h;
}

bool IsEndOfContents(Bytes data, std::size_t pos) {
  return data.size() - pos >= 2 && data[pos] == 0 && data[pos + 1] == 0;
}

// The length of the indefinite-length content that starts at `pos` (up to, not including, its
// end-of-contents marker), following nested indefinite elements no deeper than kMaxDepth.
std::size_t IndefiniteContentLength(Bytes data, std::size_t pos, int depth) {
  if (depth > kMaxDepth) {
    Fail(CRYPT_E_ASN1_LARGE);
  }
  std::size_t p = pos;
  while (true) {
    if (p >= data.size()) {
      Fail(CRYPT_E_ASN1_EOD);
    }
    if (IsEndOfContents(data, p)) {
      return p - pos;
    }
    const Header h = ParseHeader(data, p);
    p += h.headerLength;
    if (h.indefinite) {
      p += IndefiniteContentLength(data, p, depth + 1) + 2;
    } else {
      p += h.contentLength;
    }
  }
}

// The universal string types, whose constructed (segmented) form is BER only.
bool IsStringType(const Tag& tag) {
  if (tag.cls != TagClass::Universal) {
    return false;
  }
  switch (tag.number) {
    case 3:   // BIT STRING
    case 4:   // OCTET STRING
    case 12:  // UTF8String
    case 18:  // NumericString
    case 19:  // PrintableString
    case 20:  // TeletexString
    case 21:  // VideotexString
    case 22:  // IA5String
    case 23:  // UTCTime
    case 24:  // GeneralizedTime
    case 25:  // GraphicString
    case 26:  // VisibleString
    case 27:  // GeneralString
    case 28:  // UniversalString
    case 30:  // BMPString
      return true;
    default:
      return false;
  }
}

// Holds every element in `data`, at every level, to the DER rule: definite lengths only, and
// strings in their primitive form.
void CheckDerTree(Bytes data, int depth) {
  if (depth > kMaxDepth) {
    Fail(CRYPT_E_ASN1_LARGE);
  }
  std::size_t p = 0;
  while (p < data.size()) {
    const Header h = ParseHeader(data, p, Profile::Der);
    const Bytes content = data.subspan(p + h.headerLength, h.contentLength);
    if (h.tag.constructed) {
      if (IsStringType(h.tag)) {
        Fail(CRYPT_E_ASN1_ERROR);
      }
      CheckDerTree(content, depth + 1);
    }
    p += h.headerLength + h.contentLength;
  }
}

void CheckTag(const Element& e, const Tag& tag) {
  if (!(e.tag == tag)) {
    Fail(CRYPT_E_ASN1_BADTAG);
  }
}

}  // namespace

Reader Element::children() const {
  if (!tag.constructed) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  return Reader(content, depth + 1, profile);
}

Reader::Reader(Bytes data, int depth) : Reader(data, depth, Profile::Ber) {}

Reader::Reader(Bytes data, int depth, Profile profile)
    : m_data(data), m_depth(depth), m_profile(profile) {
  if (depth > kMaxDepth) {
    Fail(CRYPT_E_ASN1_LARGE);
  }
}

std::optional<Tag> Reader::peekTag() const {
  if (empty()) {
    return std::nullopt;
  }
  return ParseHeader(m_data, m_pos, m_profile).tag;
}

bool Reader::nextIs(const Tag& tag) const {
  const auto next = peekTag();
  return next && *next == tag;
}

Element Reader::next() {
  const Header h = ParseHeader(m_data, m_pos, m_profile);
  if (h.tag.cls == TagClass::Universal && h.tag.number == 0) {
    Fail(CRYPT_E_ASN1_ERROR);  // end-of-contents where no indefinite length is open
  }
  Element e;
  e.tag = h.tag;
  e.indefinite = h.indefinite;
  e.depth = m_depth;
  e.profile = m_profile;
  const std::size_t contentStart = m_pos + h.headerLength;
  std::size_t end = 0;
  if (h.indefinite) {
    const std::size_t length = IndefiniteContentLength(m_data, contentStart, m_depth + 1);
    e.content = m_data.subspan(contentStart, length);
    end = contentStart + length + 2;
  } else {
    e.content = m_data.subspan(contentStart, h.contentLength);
    end = contentStart + h.contentLength;
  }
  e.encoded = m_data.subspan(m_pos, end - m_pos);
  m_pos = end;
  return e;
}

Element Reader::expect(const Tag& tag) {
  if (empty()) {
    Fail(CRYPT_E_ASN1_EOD);
  }
  if (!nextIs(tag)) {
    Fail(CRYPT_E_ASN1_BADTAG);
  }
  return next();
}

std::optional<Element> Reader::optional(const Tag& tag) {
  if (!nextIs(tag)) {
    return std::nullopt;
  }
  return next();
}

void Reader::finish() const {
  if (!empty()) {
    Fail(CRYPT_E_ASN1_ERROR);  // trailing bytes
  }
}

Element ReadSingle(Bytes data) {
  return ReadSingle(data, Profile::Ber);
}

Element ReadSingle(Bytes data, Profile profile) {
  Reader reader(data);
  if (reader.empty()) {
    Fail(CRYPT_E_ASN1_EOD);
  }
  Element e = reader.next();
  reader.finish();
  return InProfile(e, profile);
}

Element InProfile(const Element& e, Profile profile) {
  Element held = e;
  if (profile == Profile::Der && e.profile != Profile::Der) {
    CheckDerTree(e.encoded, e.depth);
  }
  held.profile = profile;
  return held;
}

bool ReadBoolean(const Element& e) {
  CheckTag(e, Tags::Boolean);
  if (e.content.size() != 1) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  // DER spells TRUE as 0xFF; any other non-zero octet is BER and is read as TRUE too, since
  // the value is unambiguous and some TSAs write 0x01.
  return e.content[0] != 0;
}

Bytes ReadIntegerBytes(const Element& e) {
  CheckTag(e, Tags::Integer);
  if (e.content.empty()) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  return e.content;
}

std::uint64_t ReadSmallUnsigned(const Element& e, std::uint64_t max) {
  const Bytes bytes = ReadIntegerBytes(e);
  if ((bytes[0] & 0x80) != 0) {
    Fail(CRYPT_E_ASN1_ERROR);  // negative
  }
  std::size_t i = 0;
  while (i < bytes.size() && bytes[i] == 0) {
    ++i;
  }
  if (bytes.size() - i > 8) {
    Fail(CRYPT_E_ASN1_LARGE);
  }
  std::uint64_t value = 0;
  for (; i < bytes.size(); ++i) {
    value = (value << 8) | bytes[i];
  }
  if (value > max) {
    Fail(CRYPT_E_ASN1_LARGE);
  }
  return value;
}

std::string ReadOid(const Element& e) {
  CheckTag(e, Tags::Oid);
  const Bytes c = e.content;
  if (c.empty() || (c.back() & 0x80) != 0) {
    Fail(c.empty() ? CRYPT_E_ASN1_ERROR : CRYPT_E_ASN1_EOD);
  }
  // The text is written into a string of its largest length and cut to size once, not grown arc
  // by arc: certificates and CMS messages hold dozens of identifiers, and reading them was a good
  // part of decoding one. A content byte adds at most four characters (three digits and a dot);
  // the first arc pair two more.
  std::string text(4 * c.size() + 2, '\0');
  char* out = text.data();
  char* const limit = out + text.size();
  const auto append = [&out, limit](std::uint64_t arc) {
    out = std::to_chars(out, limit, arc).ptr;
  };
  std::size_t i = 0;
  bool first = true;
  while (i < c.size()) {
    if (c[i] == 0x80) {
      Fail(CRYPT_E_ASN1_ERROR);  // padded subidentifier
    }
    std::uint64_t value = 0;
    while (true) {
      if (value > (UINT64_MAX >> 7)) {
        Fail(CRYPT_E_ASN1_LARGE);
      }
      const std::uint8_t b = c[i++];
      value = (value << 7) | (b & 0x7Fu);
      if ((b & 0x80) == 0) {
        break;
      }
    }
    if (first) {
      const std::uint64_t arc0 = value < 40 ? 0 : (value < 80 ? 1 : 2);
      append(arc0);
      *out++ = '.';
      append(value - arc0 * 40);
      first = false;
    } else {
      *out++ = '.';
      append(value);
    }
  }
  text.resize(static_cast<std::size_t>(out - text.data()));
  return text;
}

std::vector<std::uint8_t> ReadOctetString(const Element& e) {
  if (e.tag.cls != TagClass::Universal || e.tag.number != Tags::OctetString.number) {
    Fail(CRYPT_E_ASN1_BADTAG);
  }
  if (!e.tag.constructed) {
    return {e.content.begin(), e.content.end()};
  }
  // Constructed form (BER): the segments are OCTET STRINGs, themselves possibly constructed.
  if (e.profile == Profile::Der) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  std::vector<std::uint8_t> joined;
  Reader segments = e.children();
  while (!segments.empty()) {
    const Element segment = segments.next();
    const auto part = ReadOctetString(segment);
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

BitString ReadBitString(const Element& e) {
  CheckTag(e, Tags::BitString);
  if (e.content.empty()) {
    Fail(CRYPT_E_ASN1_EOD);
  }
  BitString bits;
  bits.unusedBits = e.content[0];
  if (bits.unusedBits > 7 || (e.content.size() == 1 && bits.unusedBits != 0)) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  // Trailing zero octets and set unused bits are not DER, but TSAs send them in failInfo; the
  // bits are kept as received and readers decide what they mean.
  bits.bytes.assign(e.content.begin() + 1, e.content.end());
  return bits;
}

void ReadNull(const Element& e) {
  CheckTag(e, Tags::Null);
  if (!e.content.empty()) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
}

namespace {

using Calendar::DaysFromCivil;

unsigned DaysInMonth(std::int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

class TimeText {
 public:
  explicit TimeText(Bytes text) : m_text(text) {}
  unsigned digits(std::size_t count) {
    unsigned value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (m_pos >= m_text.size() || m_text[m_pos] < '0' || m_text[m_pos] > '9') {
        Fail(CRYPT_E_ASN1_ERROR);
      }
      value = value * 10 + (m_text[m_pos++] - '0');
    }
    return value;
  }
  bool at(char c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }
  void skip() { ++m_pos; }
  bool isDigit() const {
    return m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9';
  }
  bool done() const { return m_pos == m_text.size(); }

 private:
  Bytes m_text;
  std::size_t m_pos = 0;
};

Time MakeTime(std::int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute,
              unsigned second, std::uint32_t micros) {
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  Time t;
  t.seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  t.micros = micros;
  return t;
}

}  // namespace

Time ReadGeneralizedTime(const Element& e) {
  CheckTag(e, Tags::GeneralizedTime);
  TimeText t(e.content);
  const unsigned year = t.digits(4);
  const unsigned month = t.digits(2);
  const unsigned day = t.digits(2);
  const unsigned hour = t.digits(2);
  const unsigned minute = t.digits(2);
  const unsigned second = t.digits(2);
  std::uint32_t micros = 0;
  if (t.at('.')) {
    // Any number of fraction digits; the first six are kept, the rest dropped.
    t.skip();
    if (!t.isDigit()) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    std::uint32_t scale = 100000;
    while (t.isDigit()) {
      const unsigned digit = t.digits(1);
      micros += digit * scale;
      scale /= 10;
    }
  }
  if (!t.at('Z')) {
    Fail(CRYPT_E_ASN1_ERROR);  // only UTC ("Z") times are accepted
  }
  t.skip();
  if (!t.done()) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  return MakeTime(year, month, day, hour, minute, second, micros);
}

Time ReadUtcTime(const Element& e) {
  CheckTag(e, Tags::UtcTime);
  TimeText t(e.content);
  const unsigned yy = t.digits(2);
  const unsigned month = t.digits(2);
  const unsigned day = t.digits(2);
  const unsigned hour = t.digits(2);
  const unsigned minute = t.digits(2);
  const unsigned second = t.digits(2);
  if (!t.at('Z')) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  t.skip();
  if (!t.done()) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  const std::int64_t year = yy >= 50 ? 1900 + yy : 2000 + yy;
  return MakeTime(year, month, day, hour, minute, second, 0);
}

}  // namespace Velmora::ASN1::Der
