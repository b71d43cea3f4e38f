// What the chain engine, its trust material and the chain policies share: the trusted roots and
// CRLs of the process, certificate signature checks, and readers of the extensions they judge.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/free_with.h"
#include "platform/capi/cert_policies.h"
#include "platform/capi/distribution_points.h"
#include "platform/capi/weak_algorithms.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

using ContextRef = std::unique_ptr<const CERT_CONTEXT, FreeWith<CertFreeCertificateContext>>;
using CrlRef = std::shared_ptr<X509_CRL>;
class CrlData;      // revocation_crl.h
class HashedRoots;  // cert_hashed_roots.h

inline constexpr const char* kOidBasicConstraints = "2.5.29.19";
inline constexpr const char* kOidKeyUsage = "2.5.29.15";
inline constexpr const char* kOidExtKeyUsage = "2.5.29.37";
inline constexpr const char* kOidAuthorityKeyId = "2.5.29.35";
inline constexpr const char* kOidTimeStamping = "1.3.6.1.5.5.7.3.8";
inline constexpr const char* kOidOcspSigning = "1.3.6.1.5.5.7.3.9";
inline constexpr const char* kOidAuthorityInfoAccess = "1.3.6.1.5.5.7.1.1";
inline constexpr const char* kOidCrlDistributionPoints = "2.5.29.31";
inline constexpr const char* kOidFreshestCrl = "2.5.29.46";
inline constexpr const char* kOidApplicationPolicies = "1.3.6.1.4.1.311.21.10";

// The trust material of the default engine at one moment: never changed once built, shared by
// the chains being built while a newer one replaces it.
struct TrustMaterial {
  // Trusted roots, by the DER of their subject name; the system's, when its folder has hashed
  // links, are found through `systemRoots` instead (see anchorsNamed).
  std::unordered_multimap<std::string, ContextRef> anchors;
  std::shared_ptr<const HashedRoots> systemRoots;
  // Untrusted intermediates of the "CA" store folders, by subject name.
  std::unordered_multimap<std::string, ContextRef> intermediates;
  // CRLs of the store folders, by the DER of their issuer name.
  std::unordered_multimap<std::string, std::shared_ptr<const CrlData>> crls;

  // The trusted roots whose subject is `name` (whose NameKey is `key`).
  std::vector<PCCERT_CONTEXT> anchorsNamed(const CERT_NAME_BLOB& name,
                                           const std::string& key) const;
  // The anchor with the same encoding as `context`, or with its subject and public key; null
  // when the certificate is not trusted.
  PCCERT_CONTEXT anchorFor(PCCERT_CONTEXT context) const;
};

// The current trust material: read on first use, read again when a folder it came from (or the
// system trust file) changed or roots were added.
std::shared_ptr<const TrustMaterial> CurrentTrust();

// The DER certificates of one trust file, read as the store folders' files are (PEM blocks, else
// the whole file as one DER certificate; none when it is unreadable or above 1 MiB).
std::vector<std::vector<BYTE>> CertificatesOfTrustFile(const std::filesystem::path& path);

// Whether the signature of `subject` verifies under the public key of `issuer`; a DSA key without
// domain parameters takes those of the nearest key of `above` (the issuer's own issuers, nearest
// first) that has them, as long as the keys up to it are DSA keys. Verdicts are kept for the
// process (by the subject's encoding and the issuer's key), so the same chain met again is not
// checked again.
bool CertSignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                  std::span<const PCCERT_CONTEXT> above = {});
// Whether the key of `c` is a DSA key without domain parameters: what it signed can be checked
// only with its issuers' parameters.
bool KeyLacksParameters(PCCERT_CONTEXT c);
// The same of a subjectPublicKeyInfo, read once into a certificate's facts.
bool DsaKeyLacksParameters(std::span<const BYTE> spki);
// The subjectPublicKeyInfo of `issuer` with the parameters it inherits from `above`, as
// CertSignedBy takes them; nothing when it has its own or none are found.
std::optional<std::vector<BYTE>> InheritedKeyOf(PCCERT_CONTEXT issuer,
                                                std::span<const PCCERT_CONTEXT> above);
// Whether the signature of `subject` by `issuer` (its key completed from `above` as CertSignedBy
// does) is too weak under the rule, at the subject's notBefore.
bool CertSignatureWeak(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                       std::span<const PCCERT_CONTEXT> above, const WeakAlgorithmRule& rule);
// Whether the CRL's signature verifies under the subjectPublicKeyInfo `signerSpki`.
bool CrlSignedBy(X509_CRL* crl, std::span<const BYTE> signerSpki);

// The key by which names are indexed and compared when chaining: names that match have the same
// key (see cert_name_match.h).
std::string NameKey(const CERT_NAME_BLOB& name);

// ---------------------------------------------------------------------------------------------
// Extensions

const CERT_EXTENSION* FindExtension(const CERT_INFO& info, std::string_view oid);

struct BasicConstraints {
  bool ca = false;
  std::optional<std::uint64_t> pathLength;
};
// The basicConstraints of the certificate; nothing when absent; nothing and `malformed` set when
// its value does not decode.
std::optional<BasicConstraints> ReadBasicConstraints(const CERT_INFO& info, bool& malformed);
// The key purposes of an extKeyUsage value; nothing when it does not decode.
std::optional<std::vector<std::string>> ReadKeyPurposes(const CRYPT_OBJID_BLOB& value);
// The keyIdentifier of the authorityKeyIdentifier; nothing when absent or malformed.
std::optional<std::vector<std::uint8_t>> ReadAuthorityKeyId(const CERT_INFO& info);
// Whether the keyUsage extension, when present, holds the bit (0 digitalSignature ... 5
// keyCertSign, 6 cRLSign); a value that does not decode allows nothing.
bool KeyUsageAllows(const CERT_INFO& info, int bit);
// Whether the chain engine knows what a critical extension of this OID means.
bool IsUnderstoodCriticalExtension(std::string_view oid);

// What the chain engine reads of a certificate's own bytes: the same for every chain it is in, so
// read once per decoded certificate (CertData::chainFacts) and kept while it lives.
struct ChainFacts {
  ChainFacts() = default;
  ChainFacts(const ChainFacts&) = delete;  // `usage` points into `purposes`
  ChainFacts& operator=(const ChainFacts&) = delete;

  std::optional<BasicConstraints> basicConstraints;
  bool basicConstraintsMalformed = false;
  bool keyCertSign = true;           // KeyUsageAllows: keyCertSign
  bool crlSign = true;               // and cRLSign
  bool selfIssued = false;           // subject and issuer names match
  bool unsupportedCritical = false;  // a critical extension not understood
  std::optional<std::vector<std::uint8_t>> authorityKeyId;
  // The extKeyUsage purposes (none when the value does not decode), narrowed to the application
  // policies where the certificate lists them (which stand for the purposes without an
  // extKeyUsage), and the list a chain element shows of them; `hasUsage` false without either
  // extension: valid for every purpose. `usageCritical`: the extKeyUsage is critical.
  bool hasUsage = false;
  bool usageCritical = false;
  std::vector<std::string> purposes;
  std::vector<LPSTR> purposePointers;
  CERT_ENHKEY_USAGE usage{};
  CertPolicyInfo policy;
  // Its key: a DSA key without domain parameters (KeyLacksParameters), and its size when it is an
  // RSA key (else 0); the hash its own signature is made with (SignatureHashOf; "" unknown).
  bool keyLacksParameters = false;
  int rsaBits = 0;
  std::string signatureHash;
  // Where its CRLs are published (cRLDistributionPoints) and its delta CRLs (freshestCRL); none
  // when absent, and `distributionPointsMalformed` when a value does not decode.
  std::vector<DistributionPoint> distributionPoints;
  std::vector<DistributionPoint> freshest;
  bool hasDistributionPoints = false;
  bool distributionPointsMalformed = false;
};
// The facts of the certificate of a context made by this layer.
const ChainFacts& FactsOf(PCCERT_CONTEXT c);

// FILETIME as one 64-bit count, and the current time so.
inline std::uint64_t FileTimeValue(const FILETIME& time) noexcept {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}
std::uint64_t NowFileTime();
inline bool TimeValid(const CERT_INFO& info, std::uint64_t at) noexcept {
  return FileTimeValue(info.NotBefore) <= at && at <= FileTimeValue(info.NotAfter);
}

}  // namespace Velmora::Platform::Capi
