#include "codec/cms/signature_check.h"
#include "platform/base/free_with.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "codec/cms/public_key.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/winerror.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Velmora::ASN1 {

namespace {

template <auto Free>
using Deleter = Velmora::Platform::FreeWith<Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;

enum class Scheme { RsaPkcs1, RsaPss, Ecdsa, Ed25519, Ed448, Gost };

struct SignatureAlgorithm {
  const char* oid;
  Scheme scheme;
  const char* digestOid;  // the hash the OID names, or null when digestAlgorithm decides
};

constexpr const char* kMd5 = "1.2.840.113549.2.5";
constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kSha224 = "2.16.840.1.101.3.4.2.4";
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha384 = "2.16.840.1.101.3.4.2.2";
constexpr const char* kSha512 = "2.16.840.1.101.3.4.2.3";
constexpr const char* kSha3_224 = "2.16.840.1.101.3.4.2.7";
constexpr const char* kSha3_256 = "2.16.840.1.101.3.4.2.8";
constexpr const char* kSha3_384 = "2.16.840.1.101.3.4.2.9";
constexpr const char* kSha3_512 = "2.16.840.1.101.3.4.2.10";
constexpr const char* kGost94 = "1.2.643.2.2.9";
constexpr const char* kGost2012_256 = "1.2.643.7.1.1.2.2";
constexpr const char* kGost2012_512 = "1.2.643.7.1.1.2.3";
constexpr const char* kRsaPss = "1.2.840.113549.1.1.10";
constexpr const char* kMgf1 = "1.2.840.113549.1.1.8";

constexpr SignatureAlgorithm kSignatureAlgorithms[] = {
    {"1.2.840.113549.1.1.1", Scheme::RsaPkcs1, nullptr},  // rsaEncryption
    {"2.5.8.1.1", Scheme::RsaPkcs1, nullptr},  // X.509's id-ea-rsa, as some TSAs still name RSA
    {"1.2.840.113549.1.1.4", Scheme::RsaPkcs1, kMd5},
    {"1.2.840.113549.1.1.5", Scheme::RsaPkcs1, kSha1},
    {"1.3.14.3.2.29", Scheme::RsaPkcs1, kSha1},  // the OIW spelling of sha1WithRSA
    {"1.2.840.113549.1.1.14", Scheme::RsaPkcs1, kSha224},
    {"1.2.840.113549.1.1.11", Scheme::RsaPkcs1, kSha256},
    {"1.2.840.113549.1.1.12", Scheme::RsaPkcs1, kSha384},
    {"1.2.840.113549.1.1.13", Scheme::RsaPkcs1, kSha512},
    {"2.16.840.1.101.3.4.3.13", Scheme::RsaPkcs1, kSha3_224},
    {"2.16.840.1.101.3.4.3.14", Scheme::RsaPkcs1, kSha3_256},
    {"2.16.840.1.101.3.4.3.15", Scheme::RsaPkcs1, kSha3_384},
    {"2.16.840.1.101.3.4.3.16", Scheme::RsaPkcs1, kSha3_512},
    {kRsaPss, Scheme::RsaPss, nullptr},
    {"1.2.840.10045.2.1", Scheme::Ecdsa, nullptr},  // id-ecPublicKey
    {"1.2.840.10045.4.1", Scheme::Ecdsa, kSha1},
    {"1.2.840.10045.4.3.1", Scheme::Ecdsa, kSha224},
    {"1.2.840.10045.4.3.2", Scheme::Ecdsa, kSha256},
    {"1.2.840.10045.4.3.3", Scheme::Ecdsa, kSha384},
    {"1.2.840.10045.4.3.4", Scheme::Ecdsa, kSha512},
    {"2.16.840.1.101.3.4.3.9", Scheme::Ecdsa, kSha3_224},
    {"2.16.840.1.101.3.4.3.10", Scheme::Ecdsa, kSha3_256},
    {"2.16.840.1.101.3.4.3.11", Scheme::Ecdsa, kSha3_384},
    {"2.16.840.1.101.3.4.3.12", Scheme::Ecdsa, kSha3_512},
    {"1.3.101.112", Scheme::Ed25519, nullptr},
    {"1.3.101.113", Scheme::Ed448, nullptr},
    // GOST R 34.10-2001 and -2012 (key and signature OIDs both occur); only with the GOST module.
    {"1.2.643.2.2.19", Scheme::Gost, nullptr},
    {"1.2.643.2.2.3", Scheme::Gost, kGost94},
    {"1.2.643.7.1.1.1.1", Scheme::Gost, nullptr},
    {"1.2.643.7.1.1.1.2", Scheme::Gost, nullptr},
    {"1.2.643.7.1.1.3.2", Scheme::Gost, kGost2012_256},
    {"1.2.643.7.1.1.3.3", Scheme::Gost, kGost2012_512},
};

const SignatureAlgorithm* FindSignatureAlgorithm(std::string_view oid) {
  for (const auto& algorithm : kSignatureAlgorithms) {
    if (oid == algorithm.oid) {
      return &algorithm;
    }
  }
  return nullptr;
}

// The digest OpenSSL offers under the given OID (its providers list OIDs as names), GOST digests
// from the GOST module.
// Fetched digests are kept for the process by OID (never freed: a digest in use while the process
// exits must stay valid); an OID OpenSSL does not know is asked again the next time.
const EVP_MD* FetchDigest(std::string_view oid) {
  static std::mutex lock;
  static auto* fetched = new std::vector<std::pair<std::string, const EVP_MD*>>();
  const auto find = [&]() -> const EVP_MD* {
    for (const auto& [name, md] : *fetched) {
      if (name == oid) {
        return md;
      }
    }
    return nullptr;
  };
  {
    const std::lock_guard<std::mutex> guard(lock);
    if (const EVP_MD* known = find()) {
      return known;
    }
  }
  EVP_MD* md = Platform::FetchDigest(std::string(oid).c_str());
  if (md == nullptr) {
    return nullptr;
  }
  const std::lock_guard<std::mutex> guard(lock);
  if (const EVP_MD* known = find()) {
    EVP_MD_free(md);  // another thread kept its own first
    return known;
  }
  fetched->emplace_back(std::string(oid), md);
  return md;
}

bool SameDigest(const EVP_MD* a, const EVP_MD* b) {
  return a != nullptr && b != nullptr && EVP_MD_get_type(a) == EVP_MD_get_type(b);
}

std::optional<std::vector<unsigned char>> Digest(const EVP_MD* md, Der::Bytes data) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1) {
    return std::nullopt;
  }
  if ((EVP_MD_get_flags(md) & EVP_MD_FLAG_XOF) != 0) {
    // The SHAKE functions as CMS digests: 256 bits of SHAKE128, 512 bits of SHAKE256.
    std::vector<unsigned char> out(EVP_MD_is_a(md, "SHAKE-128") ? 32 : 64);
    if (EVP_DigestFinalXOF(ctx.get(), out.data(), out.size()) != 1) {
      return std::nullopt;
    }
    return out;
  }
  std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1) {
    return std::nullopt;
  }
  out.resize(length);
  return out;
}

// The parts of RSASSA-PSS-params that the check applies.
//   RSASSA-PSS-params ::= SEQUENCE {
//     hashAlgorithm    [0] HashAlgorithm    DEFAULT sha1,
//     maskGenAlgorithm [1] MaskGenAlgorithm DEFAULT mgf1SHA1,
//     saltLength       [2] INTEGER          DEFAULT 20,
//     trailerField     [3] TrailerField     DEFAULT trailerFieldBC }
struct PssParameters {
  std::string hashOid = kSha1;
  std::string mgf1HashOid = kSha1;
  int saltLength = 20;
};

// Reads the parameters; throws the codec's exception on anything malformed or unsupported.
PssParameters ReadPssParameters(const CBlob& parameters) {
  if (parameters.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // required when PSS signs
  }
  PssParameters pss;
  const Der::Element sequence = Der::ReadSingle(parameters.span());
  if (!(sequence.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader fields = sequence.children();
  if (const auto hash = fields.optional(Der::ContextTag(0, true))) {
    Der::Reader inner = hash->children();
    CAlgorithmIdentifier algorithm;
    algorithm.read(inner.next());
    inner.finish();
    pss.hashOid = algorithm.get_algorithm();
  }
  if (const auto mgf = fields.optional(Der::ContextTag(1, true))) {
    Der::Reader inner = mgf->children();
    CAlgorithmIdentifier algorithm;
    algorithm.read(inner.next());
    inner.finish();
    if (std::string_view(algorithm.get_algorithm()) != kMgf1) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
    }
    CAlgorithmIdentifier mgfHash;
    mgfHash.decode(algorithm.get_parameters());
    pss.mgf1HashOid = mgfHash.get_algorithm();
  }
  if (const auto salt = fields.optional(Der::ContextTag(2, true))) {
    Der::Reader inner = salt->children();
    pss.saltLength = static_cast<int>(Der::ReadSmallUnsigned(inner.next(), INT_MAX));
    inner.finish();
  }
  if (const auto trailer = fields.optional(Der::ContextTag(3, true))) {
    Der::Reader inner = trailer->children();
    if (Der::ReadSmallUnsigned(inner.next(), 1) != 1) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
    }
    inner.finish();
  }
  fields.finish();
  return pss;
}

bool IsGostKey(EVP_PKEY* key) {
  const int id = EVP_PKEY_get_base_id(key);
  return id == NID_id_GostR3410_2001 || id == NID_id_GostR3410_2012_256 ||
         id == NID_id_GostR3410_2012_512;
}

bool IsGostDigest(const EVP_MD* digest) {
  const int id = EVP_MD_get_type(digest);
  return id == NID_id_GostR3411_94 || id == NID_id_GostR3411_2012_256 ||
         id == NID_id_GostR3411_2012_512;
}

// GOST R 34.10: the key (the GOST engine's) verifies the GOST digest of the signed bytes. The
// signature is s and r of the key's size each: 64 bytes for 256-bit keys, 128 for 512-bit keys.
bool CheckGostSignature(EVP_PKEY* key, const EVP_MD* digest, Der::Bytes signedBytes,
                        const CBlob& signature) {
  const std::size_t expected = EVP_PKEY_get_base_id(key) == NID_id_GostR3410_2012_512 ? 128 : 64;
  if (!IsGostDigest(digest) || signature.cbData() != expected) {
    return false;
  }
  const auto hash = Digest(digest, signedBytes);
  const PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  return hash && ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
         EVP_PKEY_verify(ctx.get(), signature.pbData(), signature.cbData(), hash->data(),
                         hash->size()) == 1;
}

// The kinds of public key the schemes take; each key's is found once, when it is decoded.
enum class KeyKind { Rsa, RsaPss, Ec, Ed25519, Ed448, Gost, Other };

KeyKind KindOf(EVP_PKEY* key) {
  if (IsGostKey(key)) {
    return KeyKind::Gost;
  }
  constexpr std::pair<const char*, KeyKind> kNames[] = {{"RSA", KeyKind::Rsa},
                                                        {"RSA-PSS", KeyKind::RsaPss},
                                                        {"EC", KeyKind::Ec},
                                                        {"ED25519", KeyKind::Ed25519},
                                                        {"ED448", KeyKind::Ed448}};
  for (const auto& [name, kind] : kNames) {
    if (EVP_PKEY_is_a(key, name) == 1) {
      return kind;
    }
  }
  return KeyKind::Other;
}

bool KeyFits(KeyKind kind, Scheme scheme) {
  switch (scheme) {
    case Scheme::RsaPkcs1:
      return kind == KeyKind::Rsa;
    case Scheme::RsaPss:
      return kind == KeyKind::Rsa || kind == KeyKind::RsaPss;
    case Scheme::Ecdsa:
      return kind == KeyKind::Ec;
    case Scheme::Ed25519:
      return kind == KeyKind::Ed25519;
    case Scheme::Ed448:
      return kind == KeyKind::Ed448;
    case Scheme::Gost:
      return kind == KeyKind::Gost;
  }
  return false;
}

// A public key decoded from a certificate, kept for the process with its kind and the verify
// contexts made for it: setting up a context for a key and digest costs OpenSSL 3 about as much
// as a fifth of the RSA-2048 check itself, and a copy of one set up before costs a few percent.
class CachedKey {
 public:
  explicit CachedKey(PkeyPtr key) : m_key(std::move(key)), m_kind(KindOf(m_key.get())) {}

  EVP_PKEY* key() const { return m_key.get(); }
  KeyKind kind() const { return m_kind; }

  // A context ready to verify a signature of `scheme` (PKCS#1 v1.5 or ECDSA) over bytes hashed
  // with `digest`: a copy of the one kept for the digest, made the first time. Null on failure.
  // The digest alone names the context kept: the key's kind allows only one of the two schemes.
  MdCtxPtr verifier(const EVP_MD* digest, Scheme scheme) {
    const std::lock_guard<std::mutex> guard(m_lock);
    const EVP_MD_CTX* prepared = nullptr;
    for (const auto& [md, ctx] : m_verifiers) {
      if (md == digest) {
        prepared = ctx.get();
      }
    }
    MdCtxPtr fresh;
    if (prepared == nullptr) {
      fresh = Prepare(digest, scheme);
      if (!fresh || m_verifiers.size() >= kMaxVerifiersPerKey) {
        return fresh;  // used once, not kept
      }
      prepared = m_verifiers.emplace_back(digest, std::move(fresh)).second.get();
    }
    MdCtxPtr copy(EVP_MD_CTX_new());
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), prepared) != 1) {
      return nullptr;
    }
    return copy;
  }

 private:
  static constexpr std::size_t kMaxVerifiersPerKey = 4;

  MdCtxPtr Prepare(const EVP_MD* digest, Scheme scheme) const {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyCtx = nullptr;  // owned by ctx
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), &keyCtx, digest, nullptr, m_key.get()) != 1 ||
        (scheme == Scheme::RsaPkcs1 &&
         EVP_PKEY_CTX_set_rsa_padding(keyCtx, RSA_PKCS1_PADDING) <= 0)) {
      return nullptr;
    }
    return ctx;
  }

  PkeyPtr m_key;
  KeyKind m_kind;
  std::mutex m_lock;
  // Digests are the process's own (FetchDigest keeps them), so their addresses name them.
  std::vector<std::pair<const EVP_MD*, MdCtxPtr>> m_verifiers;
};

bool CheckSignature(const CSignerInfo& signer, const SignatureAlgorithm* algorithm,
                    const EVP_MD* digest, CachedKey& cached, Der::Bytes signedBytes) {
  const CAlgorithmIdentifier& algorithmId = signer.get_signatureAlgorithm();
  if (!KeyFits(cached.kind(), algorithm->scheme)) {
    return false;
  }
  if (algorithm->digestOid != nullptr) {
    const EVP_MD* named = FetchDigest(algorithm->digestOid);
    if (!SameDigest(named, digest)) {
      return false;  // the signature algorithm names another hash than the signer's
    }
  }

  EVP_PKEY* key = cached.key();
  if (algorithm->scheme == Scheme::Gost) {
    return CheckGostSignature(key, digest, signedBytes, signer.get_signature());
  }

  MdCtxPtr ctx;
  if (algorithm->scheme == Scheme::RsaPkcs1 || algorithm->scheme == Scheme::Ecdsa) {
    ctx = cached.verifier(digest, algorithm->scheme);
  } else {
    std::optional<PssParameters> pss;
    const EVP_MD* mgf1Digest = nullptr;
    if (algorithm->scheme == Scheme::RsaPss) {
      pss = ReadPssParameters(algorithmId.get_parameters());
      const EVP_MD* pssDigest = FetchDigest(pss->hashOid);
      mgf1Digest = FetchDigest(pss->mgf1HashOid);
      if (!SameDigest(pssDigest, digest) || mgf1Digest == nullptr) {
        return false;
      }
    }
    ctx.reset(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyCtx = nullptr;  // owned by ctx
    if (!ctx ||
        EVP_DigestVerifyInit(ctx.get(), &keyCtx, pss ? digest : nullptr, nullptr, key) != 1) {
      return false;
    }
    if (pss && (EVP_PKEY_CTX_set_rsa_padding(keyCtx, RSA_PKCS1_PSS_PADDING) <= 0 ||
                EVP_PKEY_CTX_set_rsa_mgf1_md(keyCtx, mgf1Digest) <= 0 ||
                EVP_PKEY_CTX_set_rsa_pss_saltlen(keyCtx, pss->saltLength) <= 0)) {
      return false;
    }
  }
  if (!ctx) {
    return false;
  }
  // The context verifies once: its final step may use it up instead of working on a copy.
  EVP_MD_CTX_set_flags(ctx.get(), EVP_MD_CTX_FLAG_FINALISE);
  const CBlob& signature = signer.get_signature();
  return EVP_DigestVerify(ctx.get(), signature.pbData(), signature.cbData(), signedBytes.data(),
                          signedBytes.size()) == 1;
}

// The subjectPublicKeyInfo of a DER certificate, read with our reader (the whole certificate must
// be one element with nothing after it):
//   Certificate ::= SEQUENCE { tbsCertificate TBSCertificate, signatureAlgorithm, signature }
//   TBSCertificate ::= SEQUENCE { version [0] EXPLICIT OPTIONAL, serialNumber, signature,
//                                 issuer, validity, subject, subjectPublicKeyInfo, ... }
Der::Bytes SubjectPublicKeyInfo(std::span<const unsigned char> certificateDer) {
  const Der::Element certificate = Der::ReadSingle(certificateDer);
  if (!(certificate.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader fields = certificate.children();
  const Der::Element tbs = fields.next();
  if (!(tbs.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader tbsFields = tbs.children();
  tbsFields.optional(Der::ContextTag(0, true));    // version
  for (int skipped = 0; skipped < 5; ++skipped) {  // serial ... subject
    tbsFields.next();
  }
  const Der::Element spki = tbsFields.next();
  if (!(spki.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  return spki.encoded;
}

// Public keys decoded from the same subjectPublicKeyInfo bytes are kept for the process: OpenSSL 3
// spends about 100 µs decoding one, which would otherwise be paid by every verification under
// the same TSA certificate. Keys are immutable once made and shared between threads. The cache
// is emptied when it reaches kMaxCachedKeys.
constexpr std::size_t kMaxCachedKeys = 256;

// Looked up by the bytes in place, without a string made for each lookup.
struct BytesHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view bytes) const noexcept {
    return std::hash<std::string_view>()(bytes);
  }
};

std::shared_ptr<CachedKey> CertificatePublicKey(std::span<const unsigned char> certificateDer) {
  static std::mutex lock;
  static std::unordered_map<std::string, std::shared_ptr<CachedKey>, BytesHash, std::equal_to<>>
      cache;
  const Der::Bytes spki = SubjectPublicKeyInfo(certificateDer);
  const std::string_view id(reinterpret_cast<const char*>(spki.data()), spki.size());
  {
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = cache.find(id);
    if (found != cache.end()) {
      return found->second;
    }
  }
  PublicKeyPtr key = DecodePublicKey(spki);
  if (!key) {
    return nullptr;
  }
  auto cached = std::make_shared<CachedKey>(std::move(key));
  const std::lock_guard<std::mutex> guard(lock);
  if (cache.size() >= kMaxCachedKeys) {
    cache.clear();  // keys in use stay alive with their users
  }
  cache.emplace(std::string(id), cached);
  return cached;
}

SignatureCheck Verify(const CSignerInfo& signer, std::string_view contentType, const CBlob* content,
                      std::span<const unsigned char> certificateDer) {
  if (content == nullptr || signer.encode().empty()) {
    return SignatureCheck::Invalid;
  }
  // What we cannot verify is said to be so, never taken for a bad signature.
  const SignatureAlgorithm* algorithm =
      FindSignatureAlgorithm(signer.get_signatureAlgorithm().get_algorithm());
  const EVP_MD* digest = FetchDigest(signer.get_digestAlgorithm().get_algorithm());
  const std::shared_ptr<CachedKey> key = CertificatePublicKey(certificateDer);
  if (algorithm == nullptr || digest == nullptr || key == nullptr) {
    return SignatureCheck::Unsupported;
  }
  const auto verdict = [](bool valid) {
    return valid ? SignatureCheck::Valid : SignatureCheck::Invalid;
  };

  const CAttributes* attributes = signer.get_signedAttributes();
  if (attributes == nullptr) {
    return verdict(CheckSignature(signer, algorithm, digest, *key, content->span()));
  }

  const CBlob* messageDigest = attributes->findSingleValue(AttributeOids::MessageDigest);
  if (messageDigest == nullptr) {
    return SignatureCheck::Invalid;
  }
  const std::vector<std::uint8_t> expected =
      Der::ReadOctetString(Der::ReadSingle(messageDigest->span()));
  const auto actual = Digest(digest, content->span());
  if (!actual || *actual != expected) {
    return SignatureCheck::Invalid;
  }
  if (!contentType.empty()) {
    const CBlob* typeValue = attributes->findSingleValue(AttributeOids::ContentType);
    if (typeValue == nullptr || Der::ReadOid(Der::ReadSingle(typeValue->span())) != contentType) {
      return SignatureCheck::Invalid;
    }
  }
  const CBlob toBeSigned = signer.get_signedAttributesToBeSigned();
  return verdict(CheckSignature(signer, algorithm, digest, *key, toBeSigned.span()));
}

}  // namespace

SignatureCheck CheckSignerInfo(const CSignerInfo& signer, std::string_view contentType,
                               const CBlob* content,
                               std::span<const unsigned char> certificateDer) noexcept {
  SignatureCheck verdict = SignatureCheck::Invalid;
  try {
    verdict = Verify(signer, contentType, content, certificateDer);
  } catch (...) {
    verdict = SignatureCheck::Invalid;  // a malformed attribute, parameter or certificate
  }
  ERR_clear_error();
  return verdict;
}

bool VerifySignerInfo(const CSignerInfo& signer, std::string_view contentType, const CBlob* content,
                      std::span<const unsigned char> certificateDer) noexcept {
  return CheckSignerInfo(signer, contentType, content, certificateDer) == SignatureCheck::Valid;
}

}  // namespace Velmora::ASN1
