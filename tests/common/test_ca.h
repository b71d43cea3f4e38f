// A certificate authority made at test time with libcrypto: keys, certificates with the
// extensions and validity a test asks for, and CRLs. Certificates are handed out as DER and PEM
// files, so that the code under test reads them the way users give them.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "platform/text/free_with.h"

namespace Velmora::Testing {

using CaKeyPtr = std::unique_ptr<EVP_PKEY, Platform::FreeWith<EVP_PKEY_free>>;
using CaCertPtr = std::unique_ptr<X509, Platform::FreeWith<X509_free>>;
using ContextPtr = std::unique_ptr<const Platform::CERT_CONTEXT,
                                   Platform::FreeWith<Platform::CertFreeCertificateContext>>;
inline void CloseStore(void* store) {
  Platform::CertCloseStore(store, 0);
}
using StorePtr = std::unique_ptr<void, Platform::FreeWith<CloseStore>>;

enum class KeyKind { EcP256, Rsa2048 };
CaKeyPtr NewKey(KeyKind kind = KeyKind::EcP256);

// One extension as OpenSSL's configuration syntax writes it: name "extendedKeyUsage" with value
// "critical,timeStamping", or a dotted OID with "critical,DER:0500".
struct Extension {
  std::string name;
  std::string value;
};

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
  // DER names that replace CN=commonName as subject and the issuer's subject as issuer.
  std::vector<unsigned char> subjectName;
  std::vector<unsigned char> issuerName;
  // Sections of an OpenSSL configuration file that extension values name ("dirName:dir_sect").
  std::string config;
};

// The usual extensions of a CA (basicConstraints cA, keyUsage keyCertSign and cRLSign) and of a
// TSA (extKeyUsage critical timeStamping, digitalSignature).
std::vector<Extension> CaExtensions();
std::vector<Extension> TsaExtensions();

class TestCert {
 public:
  // A certificate for `key`, signed by `issuerKey` under the name of `issuer` (null: self-signed).
  TestCert(const CertSpec& spec, EVP_PKEY* key, const TestCert* issuer, EVP_PKEY* issuerKey);

  X509* x509() const noexcept { return m_x509.get(); }
  const std::vector<unsigned char>& der() const noexcept { return m_der; }
  std::string pem() const;
  // A new context of the certificate (the layer's own).
  ContextPtr context() const;
  void writePem(const std::filesystem::path& path) const;

 private:
  CaCertPtr m_x509;
  std::vector<unsigned char> m_der;
};

// A key and its certificate.
struct Authority {
  CaKeyPtr key;
  TestCert cert;
};
Authority MakeRoot(const std::string& name, KeyKind kind = KeyKind::EcP256);
Authority MakeIssued(const CertSpec& spec, const Authority& issuer, KeyKind kind = KeyKind::EcP256);

// A CRL of `issuer` that lists the serial numbers, with the extensions, as PEM text.
std::string MakeCrlPem(const Authority& issuer, const std::vector<long>& revokedSerials,
                       const std::vector<Extension>& extensions = {});

// A CRL of `issuer` with entries (date 0: thisUpdate; reason -1: none) and times, as DER.
struct CrlEntry {
  long serial;
  std::time_t when = 0;
  int reason = -1;
};
std::vector<unsigned char> MakeCrlDer(const Authority& issuer, const std::vector<CrlEntry>& entries,
                                      std::time_t thisUpdate, std::time_t nextUpdate);
// The private key as an unencrypted PEM file (for OpenSSL's own tools).
void WriteKeyPem(EVP_PKEY* key, const std::filesystem::path& path);

// A memory store holding the certificates.
StorePtr StoreOf(const std::vector<const TestCert*>& certificates);

}  // namespace Velmora::Testing
