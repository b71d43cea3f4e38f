// A certificate authority made at test time (tools/testpki underneath): keys, certificates
// with the extensions and validity a test asks for, and CRLs, handed out as DER, PEM files and
// the layer's own certificate contexts, so the code under test reads them the way users give them.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/free_with.h"
#include "platform/capi/wincrypt.h"
#include "tools/testpki/test_pki.h"

namespace Velmora::Testing {

using CaKeyPtr = TestPki::KeyPtr;
using TestPki::CaExtensions;
using TestPki::CertSpec;
using TestPki::CrlEntry;
using TestPki::Extension;
using TestPki::KeyKind;
using TestPki::NewKey;
using TestPki::TsaExtensions;
using ContextPtr = std::unique_ptr<const Platform::CERT_CONTEXT,
                                   Platform::FreeWith<Platform::CertFreeCertificateContext>>;
inline void CloseStore(void* store) {
  Platform::CertCloseStore(store, 0);
}
using StorePtr = std::unique_ptr<void, Platform::FreeWith<CloseStore>>;

class TestCert {
 public:
  // A certificate for `key`, signed by `issuerKey` under the name of `issuer` (null: self-signed).
  TestCert(const CertSpec& spec, EVP_PKEY* key, const TestCert* issuer, EVP_PKEY* issuerKey);

  X509* x509() const noexcept { return m_x509.get(); }
  const std::vector<unsigned char>& der() const noexcept { return m_der; }
  std::string pem() const { return TestPki::PemOf(m_x509.get()); }
  // A new context of the certificate (the layer's own).
  ContextPtr context() const;
  void writePem(const std::filesystem::path& path) const;

 private:
  TestPki::CertPtr m_x509;
  std::vector<unsigned char> m_der;
};

// A key and its certificate.
struct Authority {
  CaKeyPtr key;
  TestCert cert;
};
Authority MakeRoot(const std::string& name, KeyKind kind = KeyKind::EcP256);
Authority MakeIssued(const CertSpec& spec, const Authority& issuer, KeyKind kind = KeyKind::EcP256);

// A CRL of `issuer` that lists the serial numbers, with the extensions, valid for a week, as PEM.
std::string MakeCrlPem(const Authority& issuer, const std::vector<long>& revokedSerials,
                       const std::vector<Extension>& extensions = {});
// A CRL of `issuer` with entries, times and extensions, as DER.
std::vector<unsigned char> MakeCrlDer(const Authority& issuer, const std::vector<CrlEntry>& entries,
                                      std::time_t thisUpdate, std::time_t nextUpdate,
                                      const std::vector<Extension>& extensions = {});
// The private key as an unencrypted PEM file (for OpenSSL's own tools).
void WriteKeyPem(EVP_PKEY* key, const std::filesystem::path& path);

// `when` in UTC as strftime's `format` writes it (by default a GeneralizedTime).
inline std::string UtcText(std::time_t when, const char* format = "%Y%m%d%H%M%SZ") {
  char text[32];
  std::tm parts{};
  gmtime_r(&when, &parts);
  std::strftime(text, sizeof text, format, &parts);
  return text;
}
// The line of `openssl ocsp -index` for `serial`, valid until `notAfter`, revoked at `revokedAt`
// (0: not revoked) for `reason` (a name, or empty for none).
inline std::string OcspIndexLine(long serial, std::time_t notAfter, std::time_t revokedAt = 0,
                                 const std::string& reason = {}) {
  char hex[24];
  std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(serial));
  return (revokedAt != 0 ? "R\t" : "V\t") + UtcText(notAfter, "%y%m%d%H%M%SZ") + '\t' +
         (revokedAt != 0 ? UtcText(revokedAt, "%y%m%d%H%M%SZ") : "") +
         (revokedAt != 0 && !reason.empty() ? "," + reason : "") + '\t' + hex +
         "\tunknown\t/CN=" + std::to_string(serial) + '\n';
}

// A memory store holding the certificates.
StorePtr StoreOf(const std::vector<const TestCert*>& certificates);

}  // namespace Velmora::Testing
