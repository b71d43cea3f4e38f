// Certificate and CRL signature checks, with a process-wide memory of public keys and verdicts.
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "codec/cms/public_key.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_openssl.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;
using PkeyRef = std::shared_ptr<EVP_PKEY>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;

// Bounds of the process-wide memories; a full one is emptied and starts again.
constexpr std::size_t kMaxKeys = 256;
constexpr std::size_t kMaxVerdicts = 4096;

// The algorithms checked straight over the tbsCertificate bytes as received, with the issuer's key
// read from its subjectPublicKeyInfo: RSA PKCS #1 v1.5, ECDSA and EdDSA. OpenSSL's whole X509
// (d2i_X509 costs about 110 µs a certificate) is not needed for them; the others (RSA-PSS, GOST
// ...) go to X509_verify on the parsed certificate.
struct DirectAlgorithm {
  const char* oid;
  const char* keyType;  // as EVP_PKEY_is_a names it
  const char* digest;   // null for EdDSA
};

constexpr DirectAlgorithm kDirect[] = {
    {"1.2.840.113549.1.1.11", "RSA", "SHA256"}, {"1.2.840.113549.1.1.12", "RSA", "SHA384"},
    {"1.2.840.113549.1.1.13", "RSA", "SHA512"}, {"1.2.840.113549.1.1.14", "RSA", "SHA224"},
    {"1.2.840.113549.1.1.5", "RSA", "SHA1"},    {"1.3.14.3.2.29", "RSA", "SHA1"},
    {"1.2.840.113549.1.1.4", "RSA", "MD5"},     {"1.2.840.10045.4.3.2", "EC", "SHA256"},
    {"1.2.840.10045.4.3.3", "EC", "SHA384"},    {"1.2.840.10045.4.3.4", "EC", "SHA512"},
    {"1.2.840.10045.4.3.1", "EC", "SHA224"},    {"1.2.840.10045.4.1", "EC", "SHA1"},
    {"1.3.101.112", "ED25519", nullptr},        {"1.3.101.113", "ED448", nullptr},
};

const DirectAlgorithm* FindDirect(std::string_view oid) {
  for (const DirectAlgorithm& algorithm : kDirect) {
    if (oid == algorithm.oid) {
      return &algorithm;
    }
  }
  return nullptr;
}

std::mutex g_mutex;
std::unordered_map<std::string, PkeyRef>* g_keys = new std::unordered_map<std::string, PkeyRef>();
std::unordered_map<std::string, bool>* g_verdicts = new std::unordered_map<std::string, bool>();

std::string KeyOf(std::span<const BYTE> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The public key of a subjectPublicKeyInfo, parsed once per process; null when OpenSSL refuses it.
PkeyRef PublicKeyOf(std::span<const BYTE> spki) {
  const std::string key = KeyOf(spki);
  {
    std::lock_guard lock(g_mutex);
    const auto found = g_keys->find(key);
    if (found != g_keys->end()) {
      return found->second;
    }
  }
  PkeyRef result(ASN1::DecodePublicKey(spki));
  if (!result) {
    return nullptr;
  }
  std::lock_guard lock(g_mutex);
  if (g_keys->size() >= kMaxKeys) {
    g_keys->clear();
  }
  g_keys->emplace(key, result);
  return result;
}

bool SameAlgorithm(const ASN1::CAlgorithmIdentifier& a, const ASN1::CAlgorithmIdentifier& b) {
  return std::string_view(a.get_algorithm()) == b.get_algorithm() &&
         a.get_parameters().cbData() == b.get_parameters().cbData() &&
         (a.get_parameters().cbData() == 0 ||
          std::memcmp(a.get_parameters().pbData(), b.get_parameters().pbData(),
                      a.get_parameters().cbData()) == 0);
}

constexpr const char* kOidDsa = "1.2.840.10040.4.1";

// The parts of a DSA subjectPublicKeyInfo; nothing for another key, or one that does not decode
// (which is then verified as it is, and fails).
struct DsaKeyParts {
  Der::Element oid;
  std::optional<Der::Element> parameters;
  Der::Element key;
};
std::optional<DsaKeyParts> DsaKeyPartsOf(std::span<const BYTE> spki) {
  try {
    Der::Reader members = Der::ReadSingle(spki).children();
    Der::Reader algorithm = members.expect(Der::Tags::Sequence).children();
    const Der::Element key = members.expect(Der::Tags::BitString);
    members.finish();
    const Der::Element oid = algorithm.expect(Der::Tags::Oid);
    if (Der::ReadOid(oid) != kOidDsa) {
      return std::nullopt;
    }
    std::optional<Der::Element> parameters = algorithm.optional(Der::Tags::Sequence);
    algorithm.finish();
    return DsaKeyParts{oid, parameters, key};
  } catch (const CAtlException&) {
    return std::nullopt;
  }
}

std::span<const BYTE> SpkiOf(PCCERT_CONTEXT c) {
  return ImplOf(c)->data->certificate().get_subjectPublicKeyInfo();
}

bool VerifyNow(const CertContextImpl& subject, std::span<const BYTE> issuerSpki) {
  const ASN1::CCertificate& certificate = subject.data->certificate();
  // The algorithm inside the signed part must be the one outside it.
  if (!SameAlgorithm(certificate.get_signature(), certificate.get_signatureAlgorithm())) {
    return false;
  }
  const PkeyRef key = PublicKeyOf(issuerSpki);
  if (!key) {
    return false;
  }
  const DirectAlgorithm* direct = FindDirect(certificate.get_signatureAlgorithm().get_algorithm());
  if (direct == nullptr) {
    X509* x509 = subject.data->x509();
    return x509 != nullptr && X509_verify(x509, key.get()) == 1;
  }
  if (EVP_PKEY_is_a(key.get(), direct->keyType) != 1) {
    return false;
  }
  // Parameters: absent (or NULL for RSA) for every algorithm of the direct list.
  const CBlob& parameters = certificate.get_signatureAlgorithm().get_parameters();
  const bool rsa = std::string_view(direct->keyType) == "RSA";
  if (!(parameters.cbData() == 0 ||
        (rsa && parameters.cbData() == 2 && parameters.pbData()[0] == 0x05 &&
         parameters.pbData()[1] == 0x00))) {
    return false;
  }
  const auto signature = certificate.get_signatureValue();
  if (signature.unusedBits != 0) {
    return false;
  }
  const auto tbs = certificate.get_tbsCertificate();
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit_ex(ctx.get(), nullptr, direct->digest, nullptr, nullptr,
                                      key.get(), nullptr) != 1) {
    return false;
  }
  return EVP_DigestVerify(ctx.get(), signature.bytes.data(), signature.bytes.size(), tbs.data(),
                          tbs.size()) == 1;
}

}  // namespace

bool KeyLacksParameters(PCCERT_CONTEXT c) {
  return FactsOf(c).keyLacksParameters;
}

bool DsaKeyLacksParameters(std::span<const BYTE> spki) {
  const std::optional<DsaKeyParts> dsa = DsaKeyPartsOf(spki);
  return dsa && !dsa->parameters;
}

std::optional<std::vector<BYTE>> InheritedKeyOf(PCCERT_CONTEXT issuer,
                                                std::span<const PCCERT_CONTEXT> above) {
  if (!KeyLacksParameters(issuer)) {
    return std::nullopt;
  }
  const std::optional<DsaKeyParts> own = DsaKeyPartsOf(SpkiOf(issuer));
  if (!own || own->parameters) {
    return std::nullopt;
  }
  for (PCCERT_CONTEXT c : above) {
    const std::optional<DsaKeyParts> parent = DsaKeyPartsOf(SpkiOf(c));
    if (!parent) {
      break;  // parameters are inherited along DSA keys only
    }
    if (parent->parameters) {
      Der::Writer spki;
      spki.sequence([&](Der::Writer& info) {
        info.sequence([&](Der::Writer& algorithm) {
          algorithm.raw(own->oid.encoded);
          algorithm.raw(parent->parameters->encoded);
        });
        info.raw(own->key.encoded);
      });
      return spki.take();
    }
  }
  return std::nullopt;
}

bool CertSignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                  std::span<const PCCERT_CONTEXT> above) {
  const CertContextImpl& s = *ImplOf(subject);
  const CertContextImpl& i = *ImplOf(issuer);
  const std::optional<std::vector<BYTE>> inherited =
      above.empty() ? std::nullopt : InheritedKeyOf(issuer, above);
  if (!inherited) {
    if (const std::optional<bool> known = s.data->signedBy(i.data)) {
      return *known;
    }
  }
  const std::span<const BYTE> spki = inherited ? std::span<const BYTE>(*inherited) : SpkiOf(issuer);
  std::string key = KeyOf(s.data->encoded());
  key += KeyOf(spki);
  {
    std::lock_guard lock(g_mutex);
    const auto found = g_verdicts->find(key);
    if (found != g_verdicts->end()) {
      if (!inherited) {
        s.data->keepSignedBy(i.data, found->second);
      }
      return found->second;
    }
  }
  const bool verdict = VerifyNow(s, spki);
  if (!inherited) {
    s.data->keepSignedBy(i.data, verdict);
  }
  std::lock_guard lock(g_mutex);
  if (g_verdicts->size() >= kMaxVerdicts) {
    g_verdicts->clear();
  }
  g_verdicts->emplace(std::move(key), verdict);
  return verdict;
}

bool CertSignatureWeak(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                       std::span<const PCCERT_CONTEXT> above, const WeakAlgorithmRule& rule) {
  const ChainFacts& facts = FactsOf(subject);
  int bits = FactsOf(issuer).rsaBits;
  if (const auto inherited = above.empty() ? std::nullopt : InheritedKeyOf(issuer, above)) {
    bits = RsaBitsOfKey(*inherited);
  }
  return IsWeakSignature(facts.signatureHash, bits, FileTimeValue(subject->pCertInfo->NotBefore),
                         rule);
}

int RsaBitsOfKey(std::span<const BYTE> spki) {
  const PkeyRef key = PublicKeyOf(spki);
  return RsaBitsOf(key.get());
}

int RsaBitsOfCertificateKey(PCCERT_CONTEXT certificate) {
  return FactsOf(certificate).rsaBits;
}

bool CrlSignedBy(X509_CRL* crl, std::span<const BYTE> signerSpki) {
  const PkeyRef key = PublicKeyOf(signerSpki);
  return key && X509_CRL_verify(crl, key.get()) == 1;
}

}  // namespace Velmora::Platform::Capi
