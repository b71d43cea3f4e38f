#include "codec/asnkit/big_integer.h"

#include <vector>

#include "codec/asnkit/codec_util.h"

namespace Velmora::ASN1 {

namespace {

// The shortest two's-complement form of the bytes (at least one byte).
std::vector<unsigned char> Minimal(std::span<const unsigned char> bytes) {
  std::size_t i = 0;
  while (i + 1 < bytes.size() && ((bytes[i] == 0x00 && (bytes[i + 1] & 0x80) == 0) ||
                                  (bytes[i] == 0xFF && (bytes[i + 1] & 0x80) != 0))) {
    ++i;
  }
  return {bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end()};
}

}  // namespace

bool CBigInteger::isNegative() const noexcept {
  return !empty() && (bytes().front() & 0x80) != 0;
}

CBigInteger CBigInteger::abs() const {
  if (empty()) {
    return CBigInteger();
  }
  std::vector<unsigned char> magnitude(bytes());
  if (isNegative()) {
    // Two's-complement negation: invert, then add one from the least significant byte.
    for (auto& b : magnitude) {
      b = static_cast<unsigned char>(~b);
    }
    for (auto it = magnitude.rbegin(); it != magnitude.rend(); ++it) {
      if (++*it != 0) {
        break;
      }
    }
  }
  // The magnitude is now unsigned; a set top bit needs a zero byte to stay non-negative.
  if ((magnitude.front() & 0x80) != 0) {
    magnitude.insert(magnitude.begin(), 0x00);
  }
  return CBigInteger(CBlob(Minimal(magnitude)));
}

bool CBigInteger::sameValue(const CBigInteger& other) const noexcept {
  if (empty() || other.empty()) {
    return empty() && other.empty();
  }
  return Minimal(span()) == Minimal(other.span());
}

void CBigInteger::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CBigInteger::encode() const {
  return EncodeWhole(*this);
}

void CBigInteger::read(const Der::Element& e) {
  const Der::Bytes content = Der::ReadIntegerBytes(e);
  assign(content.data(), static_cast<unsigned long>(content.size()));
}

void CBigInteger::write(Der::Writer& w) const {
  w.integer(span());
}

}  // namespace Velmora::ASN1
