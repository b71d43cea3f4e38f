#include "revocation_info.h"

#include <cstdint>
#include <stdexcept>

#include "ossl_ptr.h"

namespace TestTsa {

namespace {

struct Tlv {
  std::size_t start;   // of the tag
  std::size_t header;  // tag and length octets
  std::size_t length;  // of the content
  std::size_t end() const { return start + header + length; }
  std::size_t content() const { return start + header; }
};

// The DER element at `at` (one-byte tags, definite lengths: what OpenSSL writes).
Tlv Read(const std::string& der, std::size_t at) {
  Require(at + 2 <= der.size(), "element in bounds");
  std::size_t length = static_cast<unsigned char>(der[at + 1]);
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t octets = length & 0x7F;
    Require(octets >= 1 && octets <= 4 && at + 2 + octets <= der.size(), "length octets");
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) {
      length = (length << 8) | static_cast<unsigned char>(der[at + 2 + i]);
    }
    header += octets;
  }
  const Tlv tlv{at, header, length};
  Require(tlv.end() <= der.size(), "element fits");
  return tlv;
}

}  // namespace

std::string DerElement(unsigned char tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  const std::size_t n = content.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else {
    std::string octets;
    for (std::size_t v = n; v != 0; v >>= 8) {
      octets.insert(octets.begin(), static_cast<char>(v & 0xFF));
    }
    out += static_cast<char>(0x80 | octets.size());
    out += octets;
  }
  return out + content;
}

namespace {

bool IsOcspResponse(const std::string& der) {
  // OCSPResponse ::= SEQUENCE { responseStatus ENUMERATED, ... }; a CRL starts with a SEQUENCE.
  const Tlv outer = Read(der, 0);
  return outer.length > 0 && static_cast<unsigned char>(der[outer.content()]) == 0x0A;
}

}  // namespace

std::string WithRevocationInfo(const std::string& token, const std::vector<std::string>& items) {
  if (items.empty()) {
    return token;
  }
  std::string choices;
  for (const std::string& item : items) {
    if (IsOcspResponse(item)) {
      // other [1] IMPLICIT OtherRevocationInfoFormat { id-ri-ocsp-response, OCSPResponse }
      const std::string oid("\x06\x08\x2B\x06\x01\x05\x05\x07\x10\x02", 10);
      choices += DerElement(0xA1, oid + item);
    } else {
      choices += item;
    }
  }
  // ContentInfo { contentType, [0] EXPLICIT SignedData { ..., signerInfos SET } }
  const Tlv info = Read(token, 0);
  const Tlv type = Read(token, info.content());
  const Tlv wrapper = Read(token, type.end());
  const Tlv signedData = Read(token, wrapper.content());
  std::string fields;
  std::size_t at = signedData.content();
  while (at < signedData.end()) {
    const Tlv field = Read(token, at);
    const bool last = field.end() == signedData.end();
    Require(static_cast<unsigned char>(token[at]) != 0xA1, "a token without crls");
    if (last) {
      fields += DerElement(0xA1, choices);
    }
    fields += token.substr(field.start, field.header + field.length);
    at = field.end();
  }
  return DerElement(0x30, token.substr(type.start, type.header + type.length) +
                              DerElement(0xA0, DerElement(0x30, fields)));
}

}  // namespace TestTsa
