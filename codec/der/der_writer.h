// A DER writer: every element it writes is in the distinguished form.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/der/der_reader.h"

namespace Velmora::ASN1::Der {

class Writer {
 public:
  // An element with the given tag and content octets.
  void tlv(const Tag& tag, Bytes content);
  // Only the tag and length octets of an element whose `contentLength` content octets the caller
  // appends next (with raw() or further elements). For writers that assemble large outputs without
  // nesting copies; they check the final size against EncodedLength().
  void header(const Tag& tag, std::size_t contentLength);
  // An element already encoded elsewhere, copied as it is.
  void raw(Bytes encoded);
  // A constructed element whose members `fill` writes.
  template <typename Fill>
  void constructed(const Tag& tag, Fill&& fill) {
    Writer inner;
    std::forward<Fill>(fill)(inner);
    tlv(tag, inner.m_out);
  }
  template <typename Fill>
  void sequence(Fill&& fill) {
    constructed(Tags::Sequence, std::forward<Fill>(fill));
  }

  void boolean(bool value);
  // An INTEGER from two's-complement big-endian bytes, written in its shortest form; no bytes
  // means zero.
  void integer(Bytes twosComplement);
  void integer(std::uint64_t value);
  // An OBJECT IDENTIFIER from dotted text; text that is not an OID throws CRYPT_E_OID_FORMAT.
  void oid(std::string_view dotted);
  void octetString(Bytes content) { tlv(Tags::OctetString, content); }
  void null() { tlv(Tags::Null, {}); }
  // GeneralizedTime "YYYYMMDDHHMMSS[.f]Z" with the fraction's trailing zeros dropped.
  void generalizedTime(const Time& time);

  const std::vector<std::uint8_t>& bytes() const noexcept { return m_out; }
  std::vector<std::uint8_t> take() noexcept { return std::move(m_out); }
  // Empties the output but keeps its storage, for writers that encode many values in turn.
  void clear() noexcept { m_out.clear(); }
  void reserve(std::size_t size) { m_out.reserve(size); }

 private:
  std::vector<std::uint8_t> m_out;
};

// The size of a whole element (tag, length and content octets) of the given tag and content size.
std::size_t EncodedLength(const Tag& tag, std::size_t contentLength);

// Encodes dotted OID text as the content octets of an OBJECT IDENTIFIER.
std::vector<std::uint8_t> EncodeOidContent(std::string_view dotted);

}  // namespace Velmora::ASN1::Der
