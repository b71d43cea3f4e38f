#include "platform/capi/weak_algorithms.h"
#include "codec/corekit/civil_calendar.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstddef>

#include "codec/corekit/civil_calendar.h"
#include "codec/der/der_reader.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;

constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kMd5 = "1.2.840.113549.2.5";
constexpr const char* kRsassaPss = "1.2.840.113549.1.1.10";

// 100-ns ticks from 1601 to the start of a day of the Gregorian calendar.
constexpr std::uint64_t FileTimeOfDay(int year, unsigned month, unsigned day) {
  return kUnixEpochFileTime + static_cast<std::uint64_t>(Calendar::DaysFromCivil(year, month, day) *
                                                         Calendar::kSecondsPerDay) *
                                  kFileTimeTicksPerSecond;
}

struct SignatureHash {
  const char* signature;
  const char* hash;
};
constexpr SignatureHash kSignatureHashes[] = {
    {"1.2.840.113549.1.1.2", "1.2.840.113549.2.2"},  // md2WithRSAEncryption
    {"1.2.840.113549.1.1.3", "1.2.840.113549.2.4"},  // md4WithRSAEncryption
    {"1.2.840.113549.1.1.4", kMd5},                  // md5WithRSAEncryption
    {"1.2.840.113549.1.1.5", kSha1},                 // sha1WithRSAEncryption
    {"1.3.14.3.2.29", kSha1},                        // sha1WithRSASignature (OIW)
    {"1.2.840.10040.4.3", kSha1},                    // dsa-with-sha1
    {"1.2.840.10045.4.1", kSha1},                    // ecdsa-with-SHA1
    {"1.2.840.113549.1.1.14", "2.16.840.1.101.3.4.2.4"},
    {"1.2.840.113549.1.1.11", "2.16.840.1.101.3.4.2.1"},
    {"1.2.840.113549.1.1.12", "2.16.840.1.101.3.4.2.2"},
    {"1.2.840.113549.1.1.13", "2.16.840.1.101.3.4.2.3"},
    {"1.2.840.10045.4.3.1", "2.16.840.1.101.3.4.2.4"},
    {"1.2.840.10045.4.3.2", "2.16.840.1.101.3.4.2.1"},
    {"1.2.840.10045.4.3.3", "2.16.840.1.101.3.4.2.2"},
    {"1.2.840.10045.4.3.4", "2.16.840.1.101.3.4.2.3"},
    {"2.16.840.1.101.3.4.3.1", "2.16.840.1.101.3.4.2.4"},  // dsa-with-sha224
    {"2.16.840.1.101.3.4.3.2", "2.16.840.1.101.3.4.2.1"},  // dsa-with-sha256
};

// RSASSA-PSS-params ::= SEQUENCE { hashAlgorithm [0] AlgorithmIdentifier DEFAULT sha1, ... }
std::string PssHashOf(std::span<const std::uint8_t> parameters) {
  if (parameters.empty()) {
    return kSha1;
  }
  try {
    Der::Reader members = Der::ReadSingle(parameters).children();
    if (auto hash = members.optional(Der::ContextTag(0, true))) {
      Der::Reader algorithm = hash->children().expect(Der::Tags::Sequence).children();
      return Der::ReadOid(algorithm.expect(Der::Tags::Oid));
    }
    return kSha1;
  } catch (const CAtlException&) {
    return std::string();  // unreadable parameters: the signature does not verify either
  }
}

}  // namespace

WeakAlgorithmRule WeakAlgorithmRule::Defaults() noexcept {
  return {FileTimeOfDay(2017, 1, 1), FileTimeOfDay(2014, 1, 1), 2048};
}

WeakAlgorithmRule WeakAlgorithmRule::Of(const CERT_CHAIN_PARA* para) noexcept {
  constexpr std::size_t kCovers =
      offsetof(CERT_CHAIN_PARA, pStrongSignPara) + sizeof(CERT_CHAIN_PARA::pStrongSignPara);
  if (para == nullptr || para->cbSize < kCovers || para->pStrongSignPara == nullptr ||
      para->pStrongSignPara->dwInfoChoice != CERT_STRONG_SIGN_DATED_INFO_CHOICE ||
      para->pStrongSignPara->pvInfo == nullptr) {
    return Defaults();
  }
  const auto& info =
      *static_cast<const CERT_STRONG_SIGN_DATED_INFO*>(para->pStrongSignPara->pvInfo);
  return {FileTimeValue(info.ftSha1SignaturesAfter), FileTimeValue(info.ftSmallRsaKeysAfter),
          info.dwMinRsaKeyBits};
}

std::string SignatureHashOf(std::string_view signatureAlgorithm,
                            std::span<const std::uint8_t> parameters, std::string_view digest) {
  if (signatureAlgorithm == kRsassaPss) {
    return PssHashOf(parameters);
  }
  for (const SignatureHash& known : kSignatureHashes) {
    if (signatureAlgorithm == known.signature) {
      return known.hash;
    }
  }
  return std::string(digest);
}

std::string SignatureHashOf(const X509_ALGOR* algorithm) {
  const ASN1_OBJECT* oid = nullptr;
  int type = 0;
  const void* value = nullptr;
  X509_ALGOR_get0(&oid, &type, &value, algorithm);
  char text[128];
  if (oid == nullptr || OBJ_obj2txt(text, sizeof text, oid, 1) <= 0) {
    return std::string();
  }
  std::vector<std::uint8_t> parameters;
  if (type == V_ASN1_SEQUENCE && value != nullptr) {
    const auto* sequence = static_cast<const ASN1_STRING*>(value);
    parameters.assign(ASN1_STRING_get0_data(sequence),
                      ASN1_STRING_get0_data(sequence) + ASN1_STRING_length(sequence));
  }
  return SignatureHashOf(text, parameters, "");
}

bool IsBrokenHash(std::string_view hashOid) noexcept {
  return hashOid == kMd5 || hashOid == "1.2.840.113549.2.2" || hashOid == "1.2.840.113549.2.4";
}

int RsaBitsOf(EVP_PKEY* key) noexcept {
  const bool rsa =
      key != nullptr && (EVP_PKEY_is_a(key, "RSA") == 1 || EVP_PKEY_is_a(key, "RSA-PSS") == 1);
  return rsa ? EVP_PKEY_get_bits(key) : 0;
}

bool IsWeakSignature(std::string_view hashOid, int rsaBits, std::uint64_t made,
                     const WeakAlgorithmRule& rule) noexcept {
  if (IsBrokenHash(hashOid)) {
    return true;
  }
  made = made != 0 ? made : ~std::uint64_t{0};
  if (hashOid == kSha1 && made > rule.sha1SignaturesAfter) {
    return true;
  }
  return rsaBits > 0 && made > rule.smallRsaKeysAfter &&
         rsaBits < static_cast<int>(rule.minRsaBits);
}

bool IsWeakSignature(std::string_view hashOid, EVP_PKEY* key, std::uint64_t made,
                     const WeakAlgorithmRule& rule) noexcept {
  return IsWeakSignature(hashOid, RsaBitsOf(key), made, rule);
}

}  // namespace Velmora::Platform::Capi
