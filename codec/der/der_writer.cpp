#include "codec/der/der_writer.h"

#include <charconv>
#include <cstdio>

#include "codec/corekit/civil_calendar.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::ASN1::Der {

void Writer::tlv(const Tag& tag, Bytes content) {
  header(tag, content.size());
  m_out.insert(m_out.end(), content.begin(), content.end());
}

void Writer::header(const Tag& tag, std::size_t length) {
  std::uint8_t first = static_cast<std::uint8_t>(static_cast<unsigned>(tag.cls) << 6);
  if (tag.constructed) {
    first |= 0x20;
  }
  if (tag.number < 0x1F) {
    m_out.push_back(static_cast<std::uint8_t>(first | tag.number));
  } else {
    m_out.push_back(static_cast<std::uint8_t>(first | 0x1F));
    std::uint8_t groups[5];
    int count = 0;
    std::uint32_t n = tag.number;
    do {
      groups[count++] = static_cast<std::uint8_t>(n & 0x7F);
      n >>= 7;
    } while (n != 0);
    while (count > 0) {
      --count;
      m_out.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
    }
  }
  if (length < 0x80) {
    m_out.push_back(static_cast<std::uint8_t>(length));
  } else {
    std::uint8_t octets[sizeof(std::size_t)];
    int count = 0;
    for (std::size_t n = length; n != 0; n >>= 8) {
      octets[count++] = static_cast<std::uint8_t>(n & 0xFF);
    }
    m_out.push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count > 0) {
      m_out.push_back(octets[--count]);
    }
  }
}

void Writer::raw(Bytes encoded) {
  m_out.insert(m_out.end(), encoded.begin(), encoded.end());
}

void Writer::boolean(bool value) {
  const std::uint8_t octet = value ? 0xFF : 0x00;
  tlv(Tags::Boolean, Bytes(&octet, 1));
}

void Writer::integer(Bytes twosComplement) {
  if (twosComplement.empty()) {
    const std::uint8_t zero = 0;
    tlv(Tags::Integer, Bytes(&zero, 1));
    return;
  }
  // Drop leading octets that only repeat the sign.
  std::size_t i = 0;
  while (i + 1 < twosComplement.size() &&
         ((twosComplement[i] == 0x00 && (twosComplement[i + 1] & 0x80) == 0) ||
          (twosComplement[i] == 0xFF && (twosComplement[i + 1] & 0x80) != 0))) {
    ++i;
  }
  tlv(Tags::Integer, twosComplement.subspan(i));
}

void Writer::integer(std::uint64_t value) {
  std::uint8_t octets[9] = {};
  for (int i = 8; i >= 1; --i) {
    octets[i] = static_cast<std::uint8_t>(value & 0xFF);
    value >>= 8;
  }
  integer(Bytes(octets, sizeof octets));
}

std::vector<std::uint8_t> EncodeOidContent(std::string_view dotted) {
  std::vector<std::uint64_t> arcs;
  std::size_t pos = 0;
  while (true) {
    const std::size_t dot = dotted.find('.', pos);
    const std::string_view part =
        dotted.substr(pos, dot == std::string_view::npos ? dotted.npos : dot - pos);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size() ||
        (part.size() > 1 && part[0] == '0')) {
      Platform::AtlThrow(Platform::CRYPT_E_OID_FORMAT);
    }
    arcs.push_back(value);
    if (dot == std::string_view::npos) {
      break;
    }
    pos = dot + 1;
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40) ||
      arcs[1] > UINT64_MAX - 80) {
    Platform::AtlThrow(Platform::CRYPT_E_OID_FORMAT);
  }
  std::vector<std::uint8_t> out;
  auto put = [&out](std::uint64_t v) {
    std::uint8_t groups[10];
    int count = 0;
    do {
      groups[count++] = static_cast<std::uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v != 0);
    while (count > 0) {
      --count;
      out.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
    }
  };
  put(arcs[0] * 40 + arcs[1]);
  for (std::size_t i = 2; i < arcs.size(); ++i) {
    put(arcs[i]);
  }
  return out;
}

void Writer::oid(std::string_view dotted) {
  tlv(Tags::Oid, EncodeOidContent(dotted));
}

void Writer::generalizedTime(const Time& time) {
  std::int64_t days = time.seconds / 86400;
  std::int64_t rest = time.seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const Calendar::CivilDate date = Calendar::CivilFromDays(days);
  const std::int64_t year = date.year;
  const unsigned month = date.month;
  const unsigned day = date.day;
  if (year < 0 || year > 9999 || time.micros > 999999) {
    Platform::AtlThrow(Platform::CRYPT_E_ASN1_LARGE);
  }
  char text[32];
  int n = std::snprintf(text, sizeof text, "%04d%02u%02u%02d%02d%02d", static_cast<int>(year),
                        month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                        static_cast<int>(rest % 60));
  if (time.micros != 0) {
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, "%06u", time.micros);
    int digits = 6;
    while (fraction[digits - 1] == '0') {
      --digits;
    }
    n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%.*s", digits,
                       fraction);
  }
  text[n++] = 'Z';
  tlv(Tags::GeneralizedTime,
      Bytes(reinterpret_cast<const std::uint8_t*>(text), static_cast<std::size_t>(n)));
}

}  // namespace Velmora::ASN1::Der

namespace Velmora::ASN1::Der {

std::size_t EncodedLength(const Tag& tag, std::size_t contentLength) {
  std::size_t size = 1;
  if (tag.number >= 0x1F) {
    std::uint32_t n = tag.number;
    do {
      ++size;
      n >>= 7;
    } while (n != 0);
  }
  size += 1;  // the first length octet
  if (contentLength >= 0x80) {
    for (std::size_t n = contentLength; n != 0; n >>= 8) {
      ++size;
    }
  }
  return size + contentLength;
}

}  // namespace Velmora::ASN1::Der
