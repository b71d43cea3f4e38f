// CSignedData: a CMS ContentInfo holding a SignedData, kept as received.
//
//   ContentInfo ::= SEQUENCE {
//     contentType ContentType,                       -- id-signedData
//     content     [0] EXPLICIT ANY DEFINED BY contentType }
//   SignedData ::= SEQUENCE {
//     version          CMSVersion,
//     digestAlgorithms SET OF DigestAlgorithmIdentifier,
//     encapContentInfo EncapsulatedContentInfo,
//     certificates     [0] IMPLICIT CertificateSet OPTIONAL,
//     crls             [1] IMPLICIT RevocationInfoChoices OPTIONAL,
//     signerInfos      SET OF SignerInfo }
//   EncapsulatedContentInfo ::= SEQUENCE {
//     eContentType ContentType,
//     eContent     [0] EXPLICIT OCTET STRING OPTIONAL }
//   CertificateChoices ::= CHOICE {
//     certificate Certificate,                       -- SEQUENCE
//     extendedCertificate [0] IMPLICIT ..., v1AttrCert [1] IMPLICIT ...,
//     v2AttrCert [2] IMPLICIT ..., other [3] IMPLICIT OtherCertificateFormat }
//   RevocationInfoChoice ::= CHOICE {
//     crl CertificateList,                           -- SEQUENCE
//     other [1] IMPLICIT OtherRevocationInfoFormat }
//
// This is what a CMS decode message reads: the inner content type, the content octets, the
// certificates, and each signer with its attributes and its encoding. Everything is kept as
// received: the content octets are the joined octets of the (possibly BER, constructed) eContent,
// each certificate is its DER exactly as sent. Certificates are untrusted material: nothing here
// vouches for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/cms/signer_info.h"
#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"

namespace Velmora::ASN1 {

enum class SignatureCheck;  // codec/cms/signature_check.h

namespace CmsOids {
inline constexpr const char* Data = "1.2.840.113549.1.7.1";
inline constexpr const char* SignedData = "1.2.840.113549.1.7.2";
inline constexpr const char* TstInfo = "1.2.840.113549.1.9.16.1.4";
}  // namespace CmsOids

class CSignedData {
 public:
  // Reads one whole ContentInfo. A content type other than id-signedData throws
  // CRYPT_E_INVALID_MSG_TYPE; any other fault throws the codec's ASN.1 code. On failure the object
  // is left unchanged.
  void decode(const CBlob& contentInfo);
  // The ContentInfo exactly as received; empty for a default object.
  const CBlob& encode() const noexcept { return m_encoded; }

  std::uint32_t get_version() const noexcept { return m_version; }
  const CDllList<CAlgorithmIdentifier>& get_digestAlgorithms() const noexcept {
    return m_digestAlgorithms;
  }
  // Dotted OID text of eContentType (the inner content type).
  const char* get_eContentType() const noexcept { return m_eContentType.c_str(); }
  // The content octets, or null when the content is absent (detached).
  const CBlob* get_eContent() const noexcept { return m_hasEContent ? &m_eContent : nullptr; }
  // The X.509 certificates of the certificates field in received order, each its DER as
  // received; null when the field is absent.
  const CBlobList* get_certificates() const noexcept {
    return m_hasCertificates ? &m_certificates : nullptr;
  }
  // The other CertificateChoices (attribute certificates ...), each element as received.
  const CBlobList& get_otherCertificates() const noexcept { return m_otherCertificates; }
  // The RevocationInfoChoices, each element as received; null when the field is absent.
  const CBlobList* get_crls() const noexcept { return m_hasCrls ? &m_crls : nullptr; }
  const CDllList<CSignerInfo>& get_signerInfos() const noexcept { return m_signerInfos; }

  // Whether signer `index` signed the content under the public key of `certificateDer` (see
  // VerifySignerInfo). Any fault, an index out of range included, gives false.
  bool verifySigner(std::size_t index, const CBlob& certificateDer) const noexcept;
  // The same, with an algorithm this check cannot verify told apart (see CheckSignerInfo).
  SignatureCheck checkSigner(std::size_t index, const CBlob& certificateDer) const noexcept;

  void read(const Der::Element& contentInfo);

 private:
  std::uint32_t m_version = 0;
  CDllList<CAlgorithmIdentifier> m_digestAlgorithms;
  std::string m_eContentType;
  bool m_hasEContent = false;
  CBlob m_eContent;
  bool m_hasCertificates = false;
  CBlobList m_certificates;
  CBlobList m_otherCertificates;
  bool m_hasCrls = false;
  CBlobList m_crls;
  CDllList<CSignerInfo> m_signerInfos;
  CBlob m_encoded;
};

}  // namespace Velmora::ASN1
