// CMS attributes as a signer carries them, kept as received.
//
//   Attribute ::= SEQUENCE {
//     attrType   OBJECT IDENTIFIER,
//     attrValues SET OF AttributeValue }
//   SignedAttributes   ::= SET SIZE (1..MAX) OF Attribute
//   UnsignedAttributes ::= SET SIZE (1..MAX) OF Attribute
//
// Every value is kept as its whole DER element exactly as received, so that the readers of the
// individual attributes (signingCertificate, contentType ...) decode the bytes that were signed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

// Attribute types the codec looks at.
namespace AttributeOids {
inline constexpr const char* ContentType = "1.2.840.113549.1.9.3";
inline constexpr const char* MessageDigest = "1.2.840.113549.1.9.4";
inline constexpr const char* SigningTime = "1.2.840.113549.1.9.5";
inline constexpr const char* SigningCertificate = "1.2.840.113549.1.9.16.2.12";
inline constexpr const char* SignatureTimeStampToken = "1.2.840.113549.1.9.16.2.14";
inline constexpr const char* OtherSigningCertificate = "1.2.840.113549.1.9.16.2.19";
inline constexpr const char* CertificateValues = "1.2.840.113549.1.9.16.2.23";
inline constexpr const char* SigningCertificateV2 = "1.2.840.113549.1.9.16.2.47";
}  // namespace AttributeOids

class CAttribute {
 public:
  CAttribute() = default;
  // An attribute of the given type whose values are complete DER elements.
  CAttribute(std::string attrType, CBlobList values);

  // Dotted OID text of the attribute type; empty for a default attribute.
  const char* get_attrType() const noexcept { return m_type.c_str(); }
  // The values in received order, each a whole DER element.
  const CBlobList& get_values() const noexcept { return m_values; }

  // Reads one whole DER Attribute; trailing bytes are refused. On failure the attribute is left
  // unchanged and the codec's exception is thrown.
  void decode(const CBlob& encoded);
  // The encoding: as received for a decoded attribute, DER otherwise.
  CBlob encode() const;

  void read(const Der::Element& element);
  void write(Der::Writer& writer) const;

 private:
  std::string m_type;
  CBlobList m_values;
  CBlob m_encoded;  // as received; empty for an attribute built here
};

// A SET OF Attribute in received order.
class CAttributes {
 public:
  using const_iterator = CDllList<CAttribute>::const_iterator;

  const_iterator begin() const noexcept { return m_items.begin(); }
  const_iterator end() const noexcept { return m_items.end(); }
  std::size_t size() const noexcept { return m_items.size(); }
  bool empty() const noexcept { return m_items.empty(); }
  void push_back(const CAttribute& attribute) { m_items.push_back(attribute); }

  // The first attribute of the given type, or null.
  const CAttribute* find(std::string_view attrType) const noexcept;
  // How many attributes of the given type the set holds.
  std::size_t count(std::string_view attrType) const noexcept;
  // The single value of the single attribute of the given type; null when there is none. A
  // second attribute of that type, or an attribute with other than one value, throws
  // CRYPT_E_ASN1_ERROR: such a set cannot say what the attribute's value is.
  const CBlob* findSingleValue(std::string_view attrType) const;

  // Reads a SET OF Attribute under whatever tag `element` carries (the signer's [0] and [1]
  // are IMPLICIT). Members are taken in received order (SET OF order is not checked). An empty
  // set is refused unless `allowEmpty`.
  void read(const Der::Element& element, bool allowEmpty);
  // Writes the set under `tag`, members in DER order (sorted by their encodings).
  void write(Der::Writer& writer, const Der::Tag& tag) const;

 private:
  CDllList<CAttribute> m_items;
};

}  // namespace Velmora::ASN1
