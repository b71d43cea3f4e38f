// Throwaway certificates, keys and CRLs made with libcrypto: for the tests, the benchmarks and
// the test TSA, never for anything that must be trusted.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/free_with.h"

namespace TestPki {

template <auto Free>
using Freer = Velmora::Platform::FreeWith<Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Freer<X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Freer<X509_CRL_free>>;

// GOST keys have parameter set A and need the gost engine's methods registered first.
enum class KeyKind { EcP256, Rsa2048, Gost2012_256, Gost2012_512 };
KeyPtr NewKey(KeyKind kind = KeyKind::EcP256);

// The digest of a signature by `key`: GOST R 34.11-2012 of the key's size for GOST R 34.10-2012
// keys, GOST R 34.11-94 for GOST R 34.10-2001 keys, SHA-256 for any other key.
const EVP_MD* SigningDigest(const EVP_PKEY* key);

// One extension as OpenSSL's configuration syntax writes it: name "extendedKeyUsage" with value
// "critical,timeStamping", or a dotted OID with "critical,DER:0500".
struct Extension {
  std::string name;
  std::string value;
};
// A CA's (basicConstraints cA, keyUsage keyCertSign and cRLSign, a key identifier) and a TSA's
// (extKeyUsage critical timeStamping, digitalSignature, not a CA).
std::vector<Extension> CaExtensions();
std::vector<Extension> TsaExtensions();

struct CertSpec {
  explicit CertSpec(std::string name, long number = 1,
                    std::time_t from = std::time(nullptr) - 24 * 3600,
                    std::time_t until = std::time(nullptr) + 365 * 24 * 3600,
                    std::vector<Extension> list = {})
      : commonName(std::move(name)),
        serial(number),
        notBefore(from),
        notAfter(until),
        extensions(std::move(list)) {}

  std::string commonName;
  long serial;
  std::time_t notBefore;
  std::time_t notAfter;
  std::vector<Extension> extensions;
  std::string organization;  // an O before the CN, when not empty
  // DER names that replace the subject and the issuer's subject as issuer.
  std::vector<unsigned char> subjectName;
  std::vector<unsigned char> issuerName;
  // Sections of an OpenSSL configuration file that extension values name ("dirName:dir_sect").
  std::string config;
};

// A certificate for `key`, signed by `issuerKey` with its SigningDigest under the name of
// `issuer` (null: self-signed).
CertPtr Issue(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey);

// A CRL of `issuer` with the entries (date 0: thisUpdate; reason -1: none; certificateIssuer: the
// DER of a critical certificateIssuer extension's value, as given) and extensions.
struct CrlEntry {
  CrlEntry(long number, std::time_t at = 0, int code = -1, std::vector<unsigned char> issuer = {})
      : serial(number), when(at), reason(code), certificateIssuer(std::move(issuer)) {}

  long serial;
  std::time_t when;
  int reason;
  std::vector<unsigned char> certificateIssuer;
};
CrlPtr MakeCrl(X509* issuer, EVP_PKEY* issuerKey, const std::vector<CrlEntry>& entries,
               std::time_t thisUpdate, std::time_t nextUpdate,
               const std::vector<Extension>& extensions = {});

// A successful OCSP response saying `subject` is good, signed by its issuer, without a nonce:
// thisUpdate a minute ago, nextUpdate `validSeconds` from now.
std::vector<unsigned char> GoodOcspResponse(X509* subject, X509* issuer, EVP_PKEY* issuerKey,
                                            long validSeconds);

std::vector<unsigned char> DerOf(X509* cert);
std::vector<unsigned char> DerOf(X509_CRL* crl);
std::string PemOf(X509* cert);
std::string PemOf(X509_CRL* crl);
std::string PemOf(EVP_PKEY* key);  // unencrypted

}  // namespace TestPki
