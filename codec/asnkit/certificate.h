// CCertificate: an X.509 certificate, read far enough to name it and to find it again.
//
//   Certificate ::= SEQUENCE {
//     tbsCertificate       TBSCertificate,
//     signatureAlgorithm   AlgorithmIdentifier,
//     signatureValue       BIT STRING }
//   TBSCertificate ::= SEQUENCE {
//     version         [0] EXPLICIT Version DEFAULT v1,     -- v1(0), v2(1), v3(2)
//     serialNumber         CertificateSerialNumber,       -- INTEGER
//     signature            AlgorithmIdentifier,
//     issuer               Name,
//     validity             Validity,
//     subject              Name,
//     subjectPublicKeyInfo SubjectPublicKeyInfo,
//     issuerUniqueID  [1] IMPLICIT UniqueIdentifier OPTIONAL,   -- BIT STRING
//     subjectUniqueID [2] IMPLICIT UniqueIdentifier OPTIONAL,
//     extensions      [3] EXPLICIT Extensions OPTIONAL }
//   Validity ::= SEQUENCE { notBefore Time, notAfter Time }
//   Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }
//   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING
//   }
//
// This is what the certificate contexts of the platform layer need (issuer, serial number,
// subject, validity, public key, extensions) without handing the bytes to OpenSSL, whose X.509
// parser is slow; the signature is not checked here. The structure is checked throughout; names
// are checked as SEQUENCE OF SET OF (type, value) but their string values are not judged, since a
// certificate with an odd string is still the certificate the token carries. The serial number
// is kept as received (padded and negative ones included). Every byte range returned points into
// the certificate's own encoding, valid as long as the object is and unchanged by copies.
// A failed decode throws the reader's ASN.1 code and leaves the object as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/extensions.h"
#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "codec/der/der_reader.h"

namespace Velmora::ASN1 {

class CCertificate {
 public:
  // A BIT STRING as it lies in the encoding: its bytes after the unused-bits octet.
  struct BitString {
    Der::Bytes bytes;
    std::uint8_t unusedBits = 0;
  };

  CCertificate() = default;

  // Reads one whole DER certificate; trailing bytes are refused.
  void decode(const CBlob& der);
  // The certificate exactly as received; empty for a default object.
  const CBlob& encode() const noexcept { return m_encoded; }

  // 0 for v1, 1 for v2, 2 for v3.
  std::uint32_t get_version() const noexcept { return m_version; }
  // The content octets of the serial number INTEGER, big-endian, as received.
  Der::Bytes get_serialNumber() const noexcept { return slice(m_serial); }
  // The tbsCertificate's signature algorithm.
  const CAlgorithmIdentifier& get_signature() const noexcept { return m_signature; }
  // The DER Names, whole (tag and length included), as received.
  Der::Bytes get_issuer() const noexcept { return slice(m_issuer); }
  Der::Bytes get_subject() const noexcept { return slice(m_subject); }
  CDateTime get_notBefore() const noexcept { return m_notBefore; }
  CDateTime get_notAfter() const noexcept { return m_notAfter; }
  // The whole SubjectPublicKeyInfo element, its algorithm and its key bits.
  Der::Bytes get_subjectPublicKeyInfo() const noexcept { return slice(m_spki); }
  const CAlgorithmIdentifier& get_publicKeyAlgorithm() const noexcept { return m_keyAlgorithm; }
  BitString get_subjectPublicKey() const noexcept { return bits(m_publicKey); }
  bool has_issuerUniqueID() const noexcept { return m_issuerUid.present; }
  bool has_subjectUniqueID() const noexcept { return m_subjectUid.present; }
  BitString get_issuerUniqueID() const noexcept { return bits(m_issuerUid); }
  BitString get_subjectUniqueID() const noexcept { return bits(m_subjectUid); }
  // The extensions, or null when the certificate has none.
  const CExtensions* get_extensions() const noexcept {
    return m_hasExtensions ? &m_extensions : nullptr;
  }
  // The whole tbsCertificate element, the outer signature algorithm and the signature bits.
  Der::Bytes get_tbsCertificate() const noexcept { return slice(m_tbs); }
  const CAlgorithmIdentifier& get_signatureAlgorithm() const noexcept {
    return m_signatureAlgorithm;
  }
  BitString get_signatureValue() const noexcept { return bits(m_signatureValue); }

  // The content of the subjectKeyIdentifier extension (2.5.29.14), or empty when the certificate
  // has none. A malformed extension value throws the reader's code.
  Der::Bytes get_subjectKeyIdentifier() const;

 private:
  // A byte range of m_encoded, by offset so that copies stay right.
  struct Slice {
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  struct BitSlice {
    Slice bytes;
    std::uint8_t unusedBits = 0;
    bool present = false;
  };

  Slice sliceOf(Der::Bytes part) const noexcept;
  BitSlice bitSliceOf(const Der::Element& e, const Der::Tag& tag) const;
  Der::Bytes slice(const Slice& s) const noexcept;
  BitString bits(const BitSlice& s) const noexcept;
  void read(const Der::Element& certificate);

  CBlob m_encoded;
  std::uint32_t m_version = 0;
  Slice m_serial;
  CAlgorithmIdentifier m_signature;
  Slice m_issuer;
  CDateTime m_notBefore;
  CDateTime m_notAfter;
  Slice m_subject;
  Slice m_spki;
  CAlgorithmIdentifier m_keyAlgorithm;
  BitSlice m_publicKey;
  BitSlice m_issuerUid;
  BitSlice m_subjectUid;
  bool m_hasExtensions = false;
  CExtensions m_extensions;
  Slice m_tbs;
  CAlgorithmIdentifier m_signatureAlgorithm;
  BitSlice m_signatureValue;
};

}  // namespace Velmora::ASN1
