#include "tests/common/test_ca.h"

#include <fstream>
#include <stdexcept>

namespace Velmora::Testing {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test CA: ") + what + " failed");
  }
}

}  // namespace

TestCert::TestCert(const CertSpec& spec, EVP_PKEY* key, const TestCert* issuer, EVP_PKEY* issuerKey)
    : m_x509(TestPki::Issue(spec, key, issuer != nullptr ? issuer->x509() : nullptr, issuerKey)),
      m_der(TestPki::DerOf(m_x509.get())) {}

ContextPtr TestCert::context() const {
  ContextPtr context(Platform::CertCreateCertificateContext(
      Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING, m_der.data(),
      static_cast<Platform::DWORD>(m_der.size())));
  Check(context != nullptr, "CertCreateCertificateContext");
  return context;
}

void TestCert::writePem(const std::filesystem::path& path) const {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << pem();
}

Authority MakeRoot(const std::string& name, KeyKind kind) {
  CaKeyPtr key = NewKey(kind);
  CertSpec spec(name, 1, std::time(nullptr) - 10 * 365 * 24 * 3600L,
                std::time(nullptr) + 10 * 365 * 24 * 3600L, CaExtensions());
  TestCert cert(spec, key.get(), nullptr, key.get());
  return Authority{std::move(key), std::move(cert)};
}

Authority MakeIssued(const CertSpec& spec, const Authority& issuer, KeyKind kind) {
  CaKeyPtr key = NewKey(kind);
  TestCert cert(spec, key.get(), &issuer.cert, issuer.key.get());
  return Authority{std::move(key), std::move(cert)};
}

std::string MakeCrlPem(const Authority& issuer, const std::vector<long>& revokedSerials,
                       const std::vector<Extension>& extensions) {
  std::vector<CrlEntry> entries;
  for (long serial : revokedSerials) {
    entries.push_back({serial});
  }
  const std::time_t now = std::time(nullptr);
  return TestPki::PemOf(TestPki::MakeCrl(issuer.cert.x509(), issuer.key.get(), entries, now,
                                         now + 7 * 24 * 3600, extensions)
                            .get());
}

std::vector<unsigned char> MakeCrlDer(const Authority& issuer, const std::vector<CrlEntry>& entries,
                                      std::time_t thisUpdate, std::time_t nextUpdate,
                                      const std::vector<Extension>& extensions) {
  return TestPki::DerOf(TestPki::MakeCrl(issuer.cert.x509(), issuer.key.get(), entries, thisUpdate,
                                         nextUpdate, extensions)
                            .get());
}

void WriteKeyPem(EVP_PKEY* key, const std::filesystem::path& path) {
  std::ofstream(path, std::ios::binary) << TestPki::PemOf(key);
}

StorePtr StoreOf(const std::vector<const TestCert*>& certificates) {
  StorePtr store(Platform::CertOpenStore(Platform::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  Check(store != nullptr, "CertOpenStore");
  for (const TestCert* cert : certificates) {
    ContextPtr context = cert->context();
    Check(Platform::CertAddCertificateContextToStore(store.get(), context.get(),
                                                     Platform::CERT_STORE_ADD_ALWAYS, nullptr) != 0,
          "CertAddCertificateContextToStore");
  }
  return store;
}

}  // namespace Velmora::Testing
