#include "codec/asnkit/accuracy.h"

#include "codec/asnkit/codec_util.h"

namespace Velmora::ASN1 {

namespace {

// millis and micros: [n] INTEGER (1..999), implicitly tagged.
unsigned long ReadSubSecond(const Der::Element& e) {
  Der::Element integer = e;
  integer.tag = Der::Tags::Integer;
  const Der::Bytes bytes = Der::ReadIntegerBytes(integer);
  if ((bytes[0] & 0x80) != 0) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  unsigned long value = 0;
  for (const std::uint8_t b : bytes) {
    if (value > 999) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
    }
    value = value << 8 | b;
  }
  if (value < 1 || value > 999) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  return value;
}

void WriteSubSecond(Der::Writer& w, std::uint32_t tagNumber, unsigned long value) {
  Der::Writer integer;
  integer.integer(static_cast<std::uint64_t>(value));
  // Replace the universal tag by the context tag; the length and content stay.
  std::vector<std::uint8_t> bytes = integer.take();
  bytes[0] = static_cast<std::uint8_t>(0x80 | tagNumber);
  w.raw(bytes);
}

}  // namespace

CAccuracy::CAccuracy(unsigned long seconds, unsigned long millis, unsigned long micros) {
  put_seconds(seconds);
  put_millis(millis);
  put_micros(micros);
}

void CAccuracy::put_seconds(unsigned long seconds) {
  if (seconds > 0xFFFFFFFFul) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  m_seconds = seconds != 0 ? std::optional<unsigned long>(seconds) : std::nullopt;
}

void CAccuracy::put_millis(unsigned long millis) {
  if (millis > 999) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  m_millis = millis != 0 ? std::optional<unsigned long>(millis) : std::nullopt;
}

void CAccuracy::put_micros(unsigned long micros) {
  if (micros > 999) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  m_micros = micros != 0 ? std::optional<unsigned long>(micros) : std::nullopt;
}

void CAccuracy::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CAccuracy::encode() const {
  return EncodeWhole(*this);
}

void CAccuracy::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  CAccuracy result;
  if (const auto seconds = members.optional(Der::Tags::Integer)) {
    result.m_seconds = static_cast<unsigned long>(Der::ReadSmallUnsigned(*seconds, 0xFFFFFFFFu));
  }
  if (const auto millis = members.optional(Der::ContextTag(0, false))) {
    result.m_millis = ReadSubSecond(*millis);
  }
  if (const auto micros = members.optional(Der::ContextTag(1, false))) {
    result.m_micros = ReadSubSecond(*micros);
  }
  members.finish();
  *this = result;
}

void CAccuracy::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) {
    if (m_seconds) {
      inner.integer(static_cast<std::uint64_t>(*m_seconds));
    }
    if (m_millis) {
      WriteSubSecond(inner, 0, *m_millis);
    }
    if (m_micros) {
      WriteSubSecond(inner, 1, *m_micros);
    }
  });
}

}  // namespace Velmora::ASN1
