// A certificate revocation list, decoded once: its scope, its numbers and its entries, kept
// sorted by issuer and serial number so that a CRL of any size answers in O(log n) after it is
// loaded. Which CRLs speak for a certificate is decided by revocation_crl_status.h.
//
//   CertificateList ::= SEQUENCE { tbsCertList TBSCertList, signatureAlgorithm, signature }
//   TBSCertList ::= SEQUENCE { version INTEGER OPTIONAL, signature, issuer Name,
//       thisUpdate Time, nextUpdate Time OPTIONAL,
//       revokedCertificates SEQUENCE OF SEQUENCE { userCertificate CertificateSerialNumber,
//           revocationDate Time, crlEntryExtensions Extensions OPTIONAL } OPTIONAL,
//       crlExtensions [0] EXPLICIT Extensions OPTIONAL }
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/base/free_with.h"
#include "platform/capi/distribution_points.h"
#include "platform/capi/revocation_answer.h"

namespace Velmora::Platform::Capi {

// Largest CRL or OCSP response taken from any source.
inline constexpr std::size_t kMaxRevocationDataBytes = std::size_t{16} << 20;

struct WeakAlgorithmRule;  // weak_algorithms.h

class CrlData {
 public:
  // Decodes a DER CRL (the whole input, nothing after it). Throws CAtlException:
  // CRYPT_E_ASN1_LARGE above kMaxRevocationDataBytes, CRYPT_E_ASN1_ERROR for bytes OpenSSL
  // refuses, for entries whose reason code or certificateIssuer does not decode, for an
  // issuingDistributionPoint, CRL number or delta indicator that does not decode, and for a CRL
  // or entry with a critical extension we do not know (it may change what the entries mean).
  static std::shared_ptr<const CrlData> Decode(std::span<const std::uint8_t> der);
  // The same over an X509_CRL already decoded (a reference is taken).
  static std::shared_ptr<const CrlData> FromX509(X509_CRL* crl);

  // The name key (cert_name_match.h) of the issuer, and its Name's DER.
  const std::string& issuerKey() const noexcept { return m_issuerKey; }
  std::span<const std::uint8_t> issuerName() const noexcept { return m_issuerName; }
  std::uint64_t thisUpdate() const noexcept { return m_thisUpdate; }
  std::uint64_t nextUpdate() const noexcept { return m_nextUpdate; }
  const std::vector<std::uint8_t>& der() const noexcept { return m_der; }
  std::size_t entryCount() const noexcept { return m_entries.size(); }

  // The issuingDistributionPoint; null for a CRL of the issuer's whole scope.
  const IssuingDistributionPoint* scope() const noexcept { return m_scope ? &*m_scope : nullptr; }
  // Whether the two CRLs have the same scope: the same issuer and issuingDistributionPoint.
  bool sameScope(const CrlData& other) const noexcept {
    return m_issuerKey == other.m_issuerKey && m_scopeDer == other.m_scopeDer;
  }
  // The cRLNumber (NumberKey form; empty when none) and, for a delta CRL, the number of the
  // complete CRL it updates (empty for a complete CRL).
  const std::string& number() const noexcept { return m_number; }
  const std::string& baseNumber() const noexcept { return m_baseNumber; }
  bool isDelta() const noexcept { return !m_baseNumber.empty(); }
  // Where its delta CRLs are published (freshestCRL).
  const std::vector<DistributionPoint>& freshest() const noexcept { return m_freshest; }

  struct Listing {
    std::uint64_t date = 0;  // FILETIME value
    LONG reason = REVOCATION_REASON_NONE;
  };
  // The entry of the certificate with serial `serial` (SerialKeyOf) issued by the issuer whose
  // name key is `issuerKey`: in a direct CRL, only the CRL issuer's; in an indirect one, the
  // issuer its certificateIssuer entries name. Nothing when it is not listed.
  std::optional<Listing> find(const std::string& issuerKey, const std::string& serial) const;

  // Whether the signature verifies under the key of `signer` (a DSA key without parameters takes
  // them from `above`, its issuers, as CertSignedBy says); the verdict is kept per key.
  bool signedBy(PCCERT_CONTEXT signer, std::span<const PCCERT_CONTEXT> above = {}) const;
  // Whether its signature by `signer` is too weak under the rule, at its thisUpdate.
  bool signatureWeak(PCCERT_CONTEXT signer, std::span<const PCCERT_CONTEXT> above,
                     const WeakAlgorithmRule& rule) const;

 private:
  struct Entry {
    std::string issuer;  // name key of the certificate's issuer
    std::string serial;  // SerialKeyOf
    Listing listing;
  };
  CrlData() = default;
  void load(X509_CRL* crl);
  void loadExtensions(X509_CRL* crl);
  void loadEntries(X509_CRL* crl);

  std::unique_ptr<X509_CRL, FreeWith<X509_CRL_free>> m_crl;
  std::vector<std::uint8_t> m_der;
  std::vector<std::uint8_t> m_issuerName;
  std::string m_issuerKey;
  std::uint64_t m_thisUpdate = 0;
  std::uint64_t m_nextUpdate = 0;
  std::optional<IssuingDistributionPoint> m_scope;
  std::vector<std::uint8_t> m_scopeDer;
  std::string m_number;
  std::string m_baseNumber;
  std::vector<DistributionPoint> m_freshest;
  std::vector<Entry> m_entries;  // sorted by issuer, then serial
  mutable std::mutex m_mutex;
  mutable std::vector<std::pair<std::string, bool>> m_verdicts;  // by signer key
};

// The decoded CRL of a CRL context of the stores (CertAddEncodedCRLToStore decoded it).
std::shared_ptr<const CrlData> CrlDataOf(PCCRL_CONTEXT context);

// The serial number of a certificate in the form CrlData keeps entries: the sign, then the
// magnitude's bytes without leading zeros. CRL numbers are kept so too.
std::string SerialKeyOf(const ASN1_INTEGER* serial);
std::string SerialKeyOf(PCCERT_CONTEXT certificate);
// Whether the non-negative number `a` (SerialKeyOf form) is less than `b`.
bool NumberLess(const std::string& a, const std::string& b) noexcept;

}  // namespace Velmora::Platform::Capi
