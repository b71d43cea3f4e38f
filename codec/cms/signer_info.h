// CSignerInfo: one signer of a CMS SignedData, kept as received.
//
//   SignerInfo ::= SEQUENCE {
//     version            CMSVersion,
//     sid                SignerIdentifier,
//     digestAlgorithm    DigestAlgorithmIdentifier,
//     signedAttrs        [0] IMPLICIT SignedAttributes OPTIONAL,
//     signatureAlgorithm SignatureAlgorithmIdentifier,
//     signature          SignatureValue,                     -- OCTET STRING
//     unsignedAttrs      [1] IMPLICIT UnsignedAttributes OPTIONAL }
//   SignerIdentifier ::= CHOICE {
//     issuerAndSerialNumber IssuerAndSerialNumber,
//     subjectKeyIdentifier  [0] SubjectKeyIdentifier }
//   IssuerAndSerialNumber ::= SEQUENCE { issuer Name, serialNumber CertificateSerialNumber }
//
// The signed attributes are kept byte for byte as received: the signature covers exactly those
// bytes (with the [0] tag read as SET), so they are never re-encoded. Every getter returns data
// owned by the object; copies are deep.
#pragma once

#include <cstdint>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/big_integer.h"
#include "codec/cms/attribute.h"
#include "codec/corekit/blob.h"

namespace Velmora::ASN1 {

class CSignerInfo {
 public:
  enum class SignerIdKind { None, IssuerAndSerialNumber, SubjectKeyIdentifier };

  // The CMSVersion field (1 with issuerAndSerialNumber, 3 with subjectKeyIdentifier, as sent).
  std::uint32_t get_version() const noexcept { return m_version; }

  // Which form of SignerIdentifier the signer uses; None for a default object.
  SignerIdKind get_sidKind() const noexcept { return m_sidKind; }
  // The issuer Name as received (DER), or null in the subjectKeyIdentifier form.
  const CBlob* get_issuer() const noexcept;
  // The certificate serial number as received, or null in the subjectKeyIdentifier form.
  const CBigInteger* get_serialNumber() const noexcept;
  // The subjectKeyIdentifier octets, or null in the issuerAndSerialNumber form.
  const CBlob* get_subjectKeyIdentifier() const noexcept;
  // The whole SignerIdentifier element as received.
  const CBlob& get_sidEncoded() const noexcept { return m_sidEncoded; }

  const CAlgorithmIdentifier& get_digestAlgorithm() const noexcept { return m_digestAlgorithm; }

  // The signed attributes, or null when the signer has none.
  const CAttributes* get_signedAttributes() const noexcept;
  // The [0] element of the signed attributes exactly as received; empty when absent.
  const CBlob& get_signedAttributesEncoded() const noexcept { return m_signedAttrsEncoded; }
  // The bytes the signature covers when signed attributes are present: the received element
  // with only its first (tag) byte replaced by the SET tag 0x31. Empty when absent.
  CBlob get_signedAttributesToBeSigned() const;

  const CAlgorithmIdentifier& get_signatureAlgorithm() const noexcept {
    return m_signatureAlgorithm;
  }
  // The signature value's octets.
  const CBlob& get_signature() const noexcept { return m_signature; }

  // The unsigned attributes, or null when the signer has none. An empty [1] set (which some
  // TSAs send) reads as present and empty.
  const CAttributes* get_unsignedAttributes() const noexcept;

  // Reads one whole DER SignerInfo; trailing bytes are refused. A failure throws the codec's
  // exception and leaves the object unchanged.
  void decode(const CBlob& encoded);
  // The SignerInfo exactly as received; empty for a default object.
  const CBlob& encode() const noexcept { return m_encoded; }

  void read(const Der::Element& element);
  void write(Der::Writer& writer) const;

 private:
  std::uint32_t m_version = 0;
  SignerIdKind m_sidKind = SignerIdKind::None;
  CBlob m_issuer;
  CBigInteger m_serialNumber;
  CBlob m_subjectKeyIdentifier;
  CBlob m_sidEncoded;
  CAlgorithmIdentifier m_digestAlgorithm;
  bool m_hasSignedAttrs = false;
  CAttributes m_signedAttrs;
  CBlob m_signedAttrsEncoded;
  CAlgorithmIdentifier m_signatureAlgorithm;
  CBlob m_signature;
  bool m_hasUnsignedAttrs = false;
  CAttributes m_unsignedAttrs;
  CBlob m_encoded;
};

}  // namespace Velmora::ASN1
