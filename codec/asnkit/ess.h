// Certificate identifiers of the signing-certificate attributes (RFC 2634, RFC 5035, ETSI).
//
//   IssuerSerial ::= SEQUENCE { issuer GeneralNames, serialNumber CertificateSerialNumber }
//   ESSCertID ::= SEQUENCE { certHash Hash, issuerSerial IssuerSerial OPTIONAL }
//   ESSCertIDv2 ::= SEQUENCE {
//     hashAlgorithm  AlgorithmIdentifier DEFAULT {algorithm id-sha256},
//     certHash       Hash,
//     issuerSerial   IssuerSerial OPTIONAL }
//   Hash ::= OCTET STRING
//   OtherCertID ::= SEQUENCE { otherCertHash OtherHash, issuerSerial IssuerSerial OPTIONAL }
//   OtherHash ::= CHOICE { sha1Hash OtherHashValue, otherHash OtherHashAlgAndValue }
//   OtherHashValue ::= OCTET STRING
//   OtherHashAlgAndValue ::= SEQUENCE { hashAlgorithm AlgorithmIdentifier,
//                                       hashValue OtherHashValue }
#pragma once

#include <memory>
#include <optional>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/big_integer.h"
#include "codec/asnkit/general_name.h"
#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

// OIDs of the hash algorithms that the identifiers name by default.
inline constexpr const char* kOidSha1 = "1.3.14.3.2.26";
inline constexpr const char* kOidSha256 = "2.16.840.1.101.3.4.2.1";

class CIssuerSerial {
 public:
  CIssuerSerial() = default;
  CIssuerSerial(const CGeneralNames& issuer, const CBigInteger& serialNumber)
      : m_issuer(issuer), m_serialNumber(serialNumber) {}

  const CGeneralNames& get_issuer() const noexcept { return m_issuer; }
  void put_issuer(const CGeneralNames& issuer) { m_issuer = issuer; }
  const CBigInteger& get_serialNumber() const noexcept { return m_serialNumber; }
  void put_serialNumber(const CBigInteger& serialNumber) { m_serialNumber = serialNumber; }

  // The same issuer names (CGeneralName equality, in order) and the same serial number as an
  // integer: a serial copied with needless leading bytes still names the same certificate.
  friend bool operator==(const CIssuerSerial& a, const CIssuerSerial& b) noexcept;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  CGeneralNames m_issuer;
  CBigInteger m_serialNumber;
};

// What both ESS certificate identifiers hold: the hash of the whole DER certificate and,
// optionally, the certificate's issuer and serial number.
class CCertHashAndIssuerSerial {
 public:
  // SHA-1 in a CESSCertID; the identifier's hashAlgorithm in a CESSCertIDv2.
  const CBlob& get_certHash() const noexcept { return m_certHash; }
  void put_certHash(const CBlob& hash) { m_certHash = hash; }
  // Null when absent.
  const CIssuerSerial* get_issuerSerial() const noexcept {
    return m_issuerSerial ? &*m_issuerSerial : nullptr;
  }
  // Null removes it.
  void put_issuerSerial(const CIssuerSerial* issuerSerial) {
    m_issuerSerial = issuerSerial != nullptr ? std::optional(*issuerSerial) : std::nullopt;
  }

  friend bool operator==(const CCertHashAndIssuerSerial&,
                         const CCertHashAndIssuerSerial&) = default;

 protected:
  CCertHashAndIssuerSerial() = default;
  CCertHashAndIssuerSerial(const CBlob& certHash, const CIssuerSerial* issuerSerial)
      : m_certHash(certHash) {
    put_issuerSerial(issuerSerial);
  }

 private:
  CBlob m_certHash;
  std::optional<CIssuerSerial> m_issuerSerial;
};

class CESSCertID : public CCertHashAndIssuerSerial {
 public:
  CESSCertID() = default;
  explicit CESSCertID(const CBlob& certHash, const CIssuerSerial* issuerSerial = nullptr);

  friend bool operator==(const CESSCertID&, const CESSCertID&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal
};

class CESSCertIDv2 : public CCertHashAndIssuerSerial {
 public:
  // hashAlgorithm is SHA-256 until put otherwise.
  CESSCertIDv2();
  CESSCertIDv2(const CAlgorithmIdentifier& hashAlgorithm, const CBlob& certHash,
               const CIssuerSerial* issuerSerial = nullptr);

  // SHA-256 (2.16.840.1.101.3.4.2.1, no parameters) when the encoding left it out.
  const CAlgorithmIdentifier& get_hashAlgorithm() const noexcept { return m_hashAlgorithm; }
  void put_hashAlgorithm(const CAlgorithmIdentifier& algorithm) { m_hashAlgorithm = algorithm; }

  friend bool operator==(const CESSCertIDv2&, const CESSCertIDv2&) = default;

  // Reading accepts the default algorithm written out (BER); writing leaves it out when the
  // algorithm is SHA-256 without parameters, as DER requires.
  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  CAlgorithmIdentifier m_hashAlgorithm;
};

class COtherHashAlgAndValue {
 public:
  COtherHashAlgAndValue() = default;
  COtherHashAlgAndValue(const CBlob& hashValue, const CAlgorithmIdentifier& hashAlgorithm)
      : m_hashAlgorithm(hashAlgorithm), m_hashValue(hashValue) {}

  const CAlgorithmIdentifier& get_hashAlgorithm() const noexcept { return m_hashAlgorithm; }
  const CBlob& get_hashValue() const noexcept { return m_hashValue; }

  friend bool operator==(const COtherHashAlgAndValue&, const COtherHashAlgAndValue&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  CAlgorithmIdentifier m_hashAlgorithm;
  CBlob m_hashValue;
};

class COtherHash {
 public:
  // Neither form: both getters return null and encode() throws ERROR_INVALID_STATE.
  COtherHash() = default;
  // The bare SHA-1 form (sha1Hash).
  explicit COtherHash(const CBlob& sha1Hash) : m_sha1Hash(sha1Hash) {}
  // The algorithm-and-value form (otherHash).
  explicit COtherHash(const COtherHashAlgAndValue& otherHash) : m_otherHash(otherHash) {}

  // Exactly one of the two is non-null once the value is set.
  const CBlob* get_sha1Hash() const noexcept { return m_sha1Hash ? &*m_sha1Hash : nullptr; }
  const COtherHashAlgAndValue* get_otherHash() const noexcept {
    return m_otherHash ? &*m_otherHash : nullptr;
  }
  // The algorithm the hash was made with: SHA-1 for the bare form; empty when unset.
  CAlgorithmIdentifier hashAlgorithm() const;
  // The hash bytes of either form; empty when unset.
  const CBlob& hashValue() const noexcept;

  // Same algorithm (CAlgorithmIdentifier equality) and same hash bytes, whichever form carries
  // them: a bare SHA-1 hash equals the same hash given with the SHA-1 algorithm identifier.
  friend bool operator==(const COtherHash& a, const COtherHash& b) noexcept;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  std::optional<CBlob> m_sha1Hash;
  std::optional<COtherHashAlgAndValue> m_otherHash;
};

class COtherCertID {
 public:
  COtherCertID() = default;
  // An identifier whose otherCertHash is the algorithm-and-value form of (`certHash`, `alg`),
  // without issuerSerial.
  COtherCertID(const CBlob& certHash, const CAlgorithmIdentifier& alg);
  explicit COtherCertID(const COtherHash& otherCertHash) : m_otherCertHash(otherCertHash) {}

  const COtherHash& get_otherCertHash() const noexcept { return m_otherCertHash; }
  void put_otherCertHash(const COtherHash& hash) { m_otherCertHash = hash; }
  const CIssuerSerial* get_issuerSerial() const noexcept {
    return m_issuerSerial ? &*m_issuerSerial : nullptr;
  }
  // Null removes it.
  void put_issuerSerial(const CIssuerSerial* issuerSerial);

  // Equal hashes (COtherHash equality) and either no issuerSerial on both sides or equal ones.
  friend bool operator==(const COtherCertID& a, const COtherCertID& b) noexcept;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  COtherHash m_otherCertHash;
  std::optional<CIssuerSerial> m_issuerSerial;
};

}  // namespace Velmora::ASN1
