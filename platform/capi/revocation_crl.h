// A certificate revocation list, decoded once and judged for the certificates it may speak
// about. Its entries are kept sorted by serial number, so a CRL of any size answers in
// O(log n) after it is loaded.
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
#include <span>
#include <string>
#include <vector>

#include "platform/capi/revocation_answer.h"
#include "platform/text/free_with.h"

namespace Velmora::Platform::Capi {

// Largest CRL or OCSP response taken from any source.
inline constexpr std::size_t kMaxRevocationDataBytes = std::size_t{16} << 20;

class CrlData {
 public:
  // Decodes a DER CRL (the whole input, nothing after it). Throws CAtlException:
  // CRYPT_E_ASN1_LARGE above kMaxRevocationDataBytes, CRYPT_E_ASN1_ERROR for bytes OpenSSL
  // refuses, for entries whose reason code does not decode, and for a CRL whose
  // critical extensions or issuingDistributionPoint we cannot honour (delta CRLs, indirect CRLs,
  // CRLs of some reasons only).
  static std::shared_ptr<const CrlData> Decode(std::span<const std::uint8_t> der);
  // The same over an X509_CRL already decoded (a reference is taken).
  static std::shared_ptr<const CrlData> FromX509(X509_CRL* crl);

  // The name key (cert_name_match.h) of the issuer.
  const std::string& issuerKey() const noexcept { return m_issuerKey; }
  std::uint64_t thisUpdate() const noexcept { return m_thisUpdate; }
  std::uint64_t nextUpdate() const noexcept { return m_nextUpdate; }
  const std::vector<std::uint8_t>& der() const noexcept { return m_der; }
  std::size_t entryCount() const noexcept { return m_entries.size(); }

  // What the CRL says of `subject`, issued by `issuer`, at `at`: NoAnswer with CRYPT_E_NO_MATCH
  // when it is another issuer's (or limited to CA or end certificates and the subject is not
  // one), TRUST_E_CERT_SIGNATURE when the issuer's key did not sign it or the issuer's keyUsage
  // lacks cRLSign, CERT_E_EXPIRED when it is not fresh (see Fresh); else Good, or Revoked with the
  // entry's date and reason. An entry with reason removeFromCRL lifts a hold: Good.
  RevocationAnswer judge(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, const CheckTime& at) const;

  // Whether the signature verifies under the issuer's key; the verdict is kept per key.
  bool signedBy(PCCERT_CONTEXT issuer) const;

 private:
  struct Entry {
    std::string serial;  // sign byte then the magnitude without leading zeros
    std::uint64_t date;
    LONG reason;
  };
  CrlData() = default;
  void load(X509_CRL* crl);

  std::unique_ptr<X509_CRL, FreeWith<X509_CRL_free>> m_crl;
  std::vector<std::uint8_t> m_der;
  std::string m_issuerKey;
  std::uint64_t m_thisUpdate = 0;
  std::uint64_t m_nextUpdate = 0;
  bool m_onlyUser = false;
  bool m_onlyCa = false;
  std::vector<Entry> m_entries;  // sorted by serial
  mutable std::mutex m_mutex;
  mutable std::vector<std::pair<std::string, bool>> m_verdicts;  // by issuer key
};

// The decoded CRL of a CRL context of the stores (CertAddEncodedCRLToStore decoded it).
std::shared_ptr<const CrlData> CrlDataOf(PCCRL_CONTEXT context);

// The serial number of a certificate in the form CrlData keeps entries.
std::string SerialKeyOf(const ASN1_INTEGER* serial);
std::string SerialKeyOf(PCCERT_CONTEXT certificate);

// Whether the keyUsage of the certificate, when present, holds the bit (0 digitalSignature ...
// 6 cRLSign).
bool KeyUsageAllows(const CERT_INFO& info, int bit);

}  // namespace Velmora::Platform::Capi
