#include "codec/der/der_strings.h"

#include "platform/errors/winerror.h"

namespace Velmora::ASN1::Der {

using Platform::CRYPT_E_ASN1_BADTAG;
using Platform::CRYPT_E_ASN1_ERROR;

namespace {

bool IsScalar(char32_t c) noexcept {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

bool IsPrintableStringChar(std::uint8_t c) noexcept {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
    return true;
  }
  switch (c) {
    case ' ':
    case '\'':
    case '(':
    case ')':
    case '+':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '=':
    case '?':
    // Not PrintableString characters, but written there by real CAs: tolerated.
    case '@':
    case '&':
    case '*':
    case '_':
      return true;
    default:
      return false;
  }
}

std::wstring ReadAscii(Bytes bytes, bool (*allowed)(std::uint8_t)) {
  std::wstring text;
  text.reserve(bytes.size());
  for (const std::uint8_t b : bytes) {
    if (!allowed(b)) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    text.push_back(static_cast<wchar_t>(b));
  }
  return text;
}

std::wstring ReadBmp(Bytes bytes) {
  if (bytes.size() % 2 != 0) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  std::wstring text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const char32_t unit = static_cast<char32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      Fail(CRYPT_E_ASN1_ERROR);  // a low surrogate without its high one
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= bytes.size()) {
        Fail(CRYPT_E_ASN1_ERROR);
      }
      const char32_t low = static_cast<char32_t>(bytes[i + 2] << 8 | bytes[i + 3]);
      if (low < 0xDC00 || low > 0xDFFF) {
        Fail(CRYPT_E_ASN1_ERROR);
      }
      text.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
      i += 2;
      continue;
    }
    text.push_back(static_cast<wchar_t>(unit));
  }
  return text;
}

std::wstring ReadUniversal(Bytes bytes) {
  if (bytes.size() % 4 != 0) {
    Fail(CRYPT_E_ASN1_ERROR);
  }
  std::wstring text;
  text.reserve(bytes.size() / 4);
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const char32_t c = static_cast<char32_t>(bytes[i]) << 24 |
                       static_cast<char32_t>(bytes[i + 1]) << 16 |
                       static_cast<char32_t>(bytes[i + 2]) << 8 | bytes[i + 3];
    if (!IsScalar(c)) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    text.push_back(static_cast<wchar_t>(c));
  }
  return text;
}

std::wstring DecodeUtf8(Bytes bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t first = bytes[i++];
    if (first < 0x80) {
      text.push_back(static_cast<wchar_t>(first));
      continue;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((first & 0xE0) == 0xC0) {
      extra = 1;
      c = first & 0x1Fu;
      least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
      extra = 2;
      c = first & 0x0Fu;
      least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
      extra = 3;
      c = first & 0x07u;
      least = 0x10000;
    } else {
      Fail(CRYPT_E_ASN1_ERROR);  // a continuation byte or 0xF8..0xFF in first place
    }
    for (int k = 0; k < extra; ++k) {
      if (i >= bytes.size() || (bytes[i] & 0xC0) != 0x80) {
        Fail(CRYPT_E_ASN1_ERROR);
      }
      c = c << 6 | (bytes[i++] & 0x3Fu);
    }
    if (c < least || !IsScalar(c)) {
      Fail(CRYPT_E_ASN1_ERROR);  // overlong form, surrogate, or beyond U+10FFFF
    }
    text.push_back(static_cast<wchar_t>(c));
  }
  return text;
}

}  // namespace

bool IsStringTag(const Tag& tag) noexcept {
  if (tag.cls != TagClass::Universal || tag.constructed) {
    return false;
  }
  for (const Tag& t :
       {Tags::Utf8String, Tags::PrintableString, Tags::Ia5String, Tags::VisibleString,
        Tags::NumericString, Tags::TeletexString, Tags::BmpString, Tags::UniversalString}) {
    if (tag == t) {
      return true;
    }
  }
  return false;
}

std::wstring ReadDisplayString(const Element& e) {
  const Tag& tag = e.tag;
  if (tag == Tags::Utf8String) {
    return DecodeUtf8(e.content);
  }
  if (tag == Tags::PrintableString) {
    return ReadAscii(e.content, IsPrintableStringChar);
  }
  if (tag == Tags::Ia5String) {
    return ReadAscii(e.content, [](std::uint8_t c) { return c < 0x80; });
  }
  if (tag == Tags::VisibleString) {
    return ReadAscii(e.content, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
  }
  if (tag == Tags::NumericString) {
    return ReadAscii(e.content, [](std::uint8_t c) { return c == ' ' || (c >= '0' && c <= '9'); });
  }
  if (tag == Tags::TeletexString) {
    return ReadAscii(e.content, [](std::uint8_t) { return true; });
  }
  if (tag == Tags::BmpString) {
    return ReadBmp(e.content);
  }
  if (tag == Tags::UniversalString) {
    return ReadUniversal(e.content);
  }
  Fail(CRYPT_E_ASN1_BADTAG);
}

std::wstring ReadUtf8String(const Element& e) {
  if (!(e.tag == Tags::Utf8String)) {
    Fail(CRYPT_E_ASN1_BADTAG);
  }
  return DecodeUtf8(e.content);
}

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t wc : text) {
    const auto c = static_cast<char32_t>(wc);
    if (!IsScalar(c)) {
      Fail(CRYPT_E_ASN1_ERROR);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::wstring FromUtf8(std::string_view utf8) {
  return DecodeUtf8(Bytes(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
}

}  // namespace Velmora::ASN1::Der
