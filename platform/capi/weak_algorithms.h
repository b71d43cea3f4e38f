// The dated rule by which a signature or a hash is too weak to be believed. MD2, MD4 and MD5 are
// refused at any date; a SHA-1 signature, or one made with an RSA key below the minimum size, is
// refused on an object made after its cut-off date (the object's own date: a certificate's
// notBefore, a CRL's thisUpdate, an OCSP response's producedAt, a token's genTime), so that what
// was made in time keeps verifying. The chain engine marks a certificate signed so with
// CERT_TRUST_HAS_WEAK_SIGNATURE and takes no CRL or OCSP response signed so; the time-stamping
// chain policy and the stamp's verification report CRYPT_E_SECURITY_SETTINGS.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

struct WeakAlgorithmRule {
  std::uint64_t sha1SignaturesAfter;  // FILETIME values
  std::uint64_t smallRsaKeysAfter;
  DWORD minRsaBits;

  // SHA-1 after 2017-01-01, RSA below 2048 bits after 2014-01-01.
  static WeakAlgorithmRule Defaults() noexcept;
  // The rule a chain parameter's strong-signing field asks for, else the defaults.
  static WeakAlgorithmRule Of(const CERT_CHAIN_PARA* para) noexcept;
};

// The hash algorithm (dotted OID) a signature algorithm signs with: from the algorithm itself, or
// from RSASSA-PSS parameters (`parameters`: their DER; none means SHA-1), or `digest` (the CMS
// digest algorithm) for an algorithm that names no hash, such as rsaEncryption. "" when unknown.
std::string SignatureHashOf(std::string_view signatureAlgorithm,
                            std::span<const std::uint8_t> parameters, std::string_view digest);

// The same for an algorithm as OpenSSL holds it (a CRL's, an OCSP response's).
std::string SignatureHashOf(const X509_ALGOR* algorithm);

// Whether a hash algorithm is refused at any date (MD2, MD4, MD5).
bool IsBrokenHash(std::string_view hashOid) noexcept;

// Whether a signature made with `hashOid` under `key` on an object made at `made` (a FILETIME
// value; 0 when unknown, which counts as after every cut-off) is weak under the rule.
bool IsWeakSignature(std::string_view hashOid, EVP_PKEY* key, std::uint64_t made,
                     const WeakAlgorithmRule& rule) noexcept;
// The same with the key's size in bits when it is an RSA key, else 0.
bool IsWeakSignature(std::string_view hashOid, int rsaBits, std::uint64_t made,
                     const WeakAlgorithmRule& rule) noexcept;
// The size of an RSA key in bits; 0 for another key or none.
int RsaBitsOf(EVP_PKEY* key) noexcept;
// The same for the key of a subjectPublicKeyInfo (read once per process, as the chain engine
// reads keys).
int RsaBitsOfKey(std::span<const BYTE> spki);
int RsaBitsOfCertificateKey(PCCERT_CONTEXT certificate);

}  // namespace Velmora::Platform::Capi
