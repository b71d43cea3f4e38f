// Values of the signed attributes that a time-stamp token carries, each read from the DER of one
// attribute value.
//
//   SigningCertificate ::= SEQUENCE {                 -- 1.2.840.113549.1.9.16.2.12
//     certs     SEQUENCE OF ESSCertID,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }
//   SigningCertificateV2 ::= SEQUENCE {               -- 1.2.840.113549.1.9.16.2.47
//     certs     SEQUENCE OF ESSCertIDv2,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }
//   OtherSigningCertificate ::= SEQUENCE {            -- 1.2.840.113549.1.9.16.2.19
//     certs     SEQUENCE OF OtherCertID,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }
//   ContentType ::= OBJECT IDENTIFIER                 -- 1.2.840.113549.1.9.3
//   CertificateValues ::= SEQUENCE OF Certificate     -- 1.2.840.113549.1.9.16.2.23
//
// The first entry of certs names the signer's certificate (RFC 2634, 5.4), so a signing-certificate
// value with an empty certs list is refused (CRYPT_E_ASN1_ERROR): get_certs().front() is always
// an entry after a successful decode. The policies are kept as their DER, not interpreted.
#pragma once

#include <string>

#include "codec/asnkit/ess.h"
#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

// The attribute types.
inline constexpr const char* kOidContentType = "1.2.840.113549.1.9.3";
inline constexpr const char* kOidSigningCertificate = "1.2.840.113549.1.9.16.2.12";
inline constexpr const char* kOidOtherSigningCertificate = "1.2.840.113549.1.9.16.2.19";
inline constexpr const char* kOidCertificateValues = "1.2.840.113549.1.9.16.2.23";
inline constexpr const char* kOidSigningCertificateV2 = "1.2.840.113549.1.9.16.2.47";

// The three signing-certificate values share their shape; Entry is the identifier type.
template <typename Entry>
class CSigningCertificateT {
 public:
  CSigningCertificateT() = default;
  explicit CSigningCertificateT(const CDllList<Entry>& certs) : m_certs(certs) {}
  // Decodes `der` (see decode).
  explicit CSigningCertificateT(const CBlob& der) { decode(der); }

  const CDllList<Entry>& get_certs() const noexcept { return m_certs; }
  void put_certs(const CDllList<Entry>& certs) { m_certs = certs; }
  // The policies' DER (the whole SEQUENCE OF PolicyInformation) as received; empty when absent.
  const CBlob& get_policies() const noexcept { return m_policies; }
  // One SEQUENCE element or empty for none; anything else throws the reader's code.
  void put_policies(const CBlob& der);

  friend bool operator==(const CSigningCertificateT&, const CSigningCertificateT&) = default;

  void decode(const CBlob& der);
  // An empty certs list throws ERROR_INVALID_STATE.
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  CDllList<Entry> m_certs;
  CBlob m_policies;
};

using CAttrSigningCertificate = CSigningCertificateT<CESSCertID>;
using CAttrSigningCertificateV2 = CSigningCertificateT<CESSCertIDv2>;
using CAttrOtherSigningCertificate = CSigningCertificateT<COtherCertID>;

extern template class CSigningCertificateT<CESSCertID>;
extern template class CSigningCertificateT<CESSCertIDv2>;
extern template class CSigningCertificateT<COtherCertID>;

class CAttrContentType {
 public:
  CAttrContentType() = default;
  // A value of `oid` (checked; not an OID throws CRYPT_E_OID_FORMAT, null E_INVALIDARG).
  explicit CAttrContentType(const char* oid);
  // Decodes `der` (see decode).
  explicit CAttrContentType(const CBlob& der) { decode(der); }

  // Dotted OID text, or null when no content type is held.
  const char* get_contentType() const noexcept {
    return m_contentType.empty() ? nullptr : m_contentType.c_str();
  }

  friend bool operator==(const CAttrContentType&, const CAttrContentType&) = default;

  void decode(const CBlob& der);
  // Without a content type throws ERROR_INVALID_STATE.
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  std::string m_contentType;
};

class CCertificateValues {
 public:
  CCertificateValues() = default;
  // Each blob must hold one SEQUENCE element, else the reader's code is thrown.
  explicit CCertificateValues(const CBlobList& certs);
  // Decodes `der` (see decode).
  explicit CCertificateValues(const CBlob& der) { decode(der); }

  // The certificates' DER, exactly as received, in order. Each is checked to be one SEQUENCE
  // element; the certificate itself is not parsed here.
  const CBlobList& get_certs() const noexcept { return m_certs; }

  friend bool operator==(const CCertificateValues&, const CCertificateValues&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  CBlobList m_certs;
};

}  // namespace Velmora::ASN1
