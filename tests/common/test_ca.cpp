#include "tests/common/test_ca.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace Velmora::Testing {

namespace {

using BioPtr = std::unique_ptr<BIO, Platform::FreeWith<BIO_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Platform::FreeWith<X509_EXTENSION_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Platform::FreeWith<X509_CRL_free>>;

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test CA: ") + what + " failed");
  }
}

void SetTime(ASN1_TIME* field, std::time_t when) {
  Check(ASN1_TIME_set(field, when) != nullptr, "ASN1_TIME_set");
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

CaKeyPtr NewKey(KeyKind kind) {
  EVP_PKEY* key = kind == KeyKind::Rsa2048 ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
  Check(key != nullptr, "key generation");
  return CaKeyPtr(key);
}

std::vector<Extension> CaExtensions() {
  return {{"basicConstraints", "critical,CA:TRUE"},
          {"keyUsage", "critical,keyCertSign,cRLSign"},
          {"subjectKeyIdentifier", "hash"}};
}

std::vector<Extension> TsaExtensions() {
  return {{"extendedKeyUsage", "critical,timeStamping"},
          {"keyUsage", "critical,digitalSignature"},
          {"basicConstraints", "CA:FALSE"}};
}

TestCert::TestCert(const CertSpec& spec, EVP_PKEY* key, const TestCert* issuer, EVP_PKEY* issuerKey)
    : m_x509(X509_new()) {
  X509* x = m_x509.get();
  Check(x != nullptr && X509_set_version(x, 2) == 1, "X509_new");
  Check(ASN1_INTEGER_set(X509_get_serialNumber(x), spec.serial) == 1, "serial");
  X509_NAME* name = X509_get_subject_name(x);
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(spec.commonName.c_str()),
                                   -1, -1, 0) == 1,
        "subject");
  const auto replace = [&](const std::vector<unsigned char>& der, auto set) {
    const unsigned char* p = der.data();
    std::unique_ptr<X509_NAME, Platform::FreeWith<X509_NAME_free>> given(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
    Check(given != nullptr && set(x, given.get()) == 1, "name");
  };
  if (!spec.subjectName.empty()) {
    replace(spec.subjectName, X509_set_subject_name);
  }
  Check(X509_set_issuer_name(x, issuer != nullptr ? X509_get_subject_name(issuer->x509())
                                                  : X509_get_subject_name(x)) == 1,
        "issuer");
  if (!spec.issuerName.empty()) {
    replace(spec.issuerName, X509_set_issuer_name);
  }
  SetTime(X509_getm_notBefore(x), spec.notBefore);
  SetTime(X509_getm_notAfter(x), spec.notAfter);
  Check(X509_set_pubkey(x, key) == 1, "public key");
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer != nullptr ? issuer->x509() : x, x, nullptr, nullptr, 0);
  // Extensions read as from a configuration file: certificatePolicies needs one, even empty.
  std::unique_ptr<CONF, Platform::FreeWith<NCONF_free>> conf(NCONF_new(nullptr));
  BioPtr text(BIO_new_mem_buf(spec.config.data(), static_cast<int>(spec.config.size())));
  Check(conf && text && NCONF_load_bio(conf.get(), text.get(), nullptr) == 1, "config");
  X509V3_set_nconf(&ctx, conf.get());
  for (const Extension& extension : spec.extensions) {
    ExtPtr made(
        X509V3_EXT_nconf(conf.get(), &ctx, extension.name.c_str(), extension.value.c_str()));
    Check(made != nullptr, extension.name.c_str());
    Check(X509_add_ext(x, made.get(), -1) == 1, "X509_add_ext");
  }
  Check(X509_sign(x, issuerKey, EVP_sha256()) > 0, "X509_sign");
  unsigned char* out = nullptr;
  const int length = i2d_X509(x, &out);
  Check(length > 0, "i2d_X509");
  m_der.assign(out, out + length);
  OPENSSL_free(out);
}

std::string TestCert::pem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_X509(bio.get(), m_x509.get()) == 1, "PEM_write_bio_X509");
  return BioText(bio.get());
}

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
  CertSpec spec(name);
  spec.notBefore = std::time(nullptr) - 10 * 365 * 24 * 3600L;
  spec.notAfter = std::time(nullptr) + 10 * 365 * 24 * 3600L;
  spec.extensions = CaExtensions();
  TestCert cert(spec, key.get(), nullptr, key.get());
  return Authority{std::move(key), std::move(cert)};
}

Authority MakeIssued(const CertSpec& spec, const Authority& issuer, KeyKind kind) {
  CaKeyPtr key = NewKey(kind);
  TestCert cert(spec, key.get(), &issuer.cert, issuer.key.get());
  return Authority{std::move(key), std::move(cert)};
}

namespace {

CrlPtr MakeCrl(const Authority& issuer, const std::vector<CrlEntry>& entries,
               std::time_t thisUpdate, std::time_t nextUpdate,
               const std::vector<Extension>& extensions = {}) {
  CrlPtr crl(X509_CRL_new());
  Check(crl && X509_CRL_set_version(crl.get(), 1) == 1, "X509_CRL_new");
  Check(X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.cert.x509())) == 1,
        "CRL issuer");
  using TimePtr = std::unique_ptr<ASN1_TIME, Platform::FreeWith<ASN1_TIME_free>>;
  TimePtr last(ASN1_TIME_set(nullptr, thisUpdate));
  TimePtr next(ASN1_TIME_set(nullptr, nextUpdate));
  Check(X509_CRL_set1_lastUpdate(crl.get(), last.get()) == 1 &&
            X509_CRL_set1_nextUpdate(crl.get(), next.get()) == 1,
        "CRL times");
  for (const CrlEntry& item : entries) {
    X509_REVOKED* entry = X509_REVOKED_new();
    std::unique_ptr<ASN1_INTEGER, Platform::FreeWith<ASN1_INTEGER_free>> number(ASN1_INTEGER_new());
    TimePtr when(ASN1_TIME_set(nullptr, item.when != 0 ? item.when : thisUpdate));
    Check(entry != nullptr && number && ASN1_INTEGER_set(number.get(), item.serial) == 1 &&
              X509_REVOKED_set_serialNumber(entry, number.get()) == 1 &&
              X509_REVOKED_set_revocationDate(entry, when.get()) == 1 &&
              X509_CRL_add0_revoked(crl.get(), entry) == 1,
          "CRL entry");
    if (item.reason >= 0) {
      std::unique_ptr<ASN1_ENUMERATED, Platform::FreeWith<ASN1_ENUMERATED_free>> reason(
          ASN1_ENUMERATED_new());
      Check(reason && ASN1_ENUMERATED_set(reason.get(), item.reason) == 1 &&
                X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, reason.get(), 0, 0) == 1,
            "CRL reason");
    }
  }
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer.cert.x509(), nullptr, nullptr, crl.get(), 0);
  for (const Extension& extension : extensions) {
    ExtPtr made(X509V3_EXT_nconf(nullptr, &ctx, extension.name.c_str(), extension.value.c_str()));
    Check(made && X509_CRL_add_ext(crl.get(), made.get(), -1) == 1, extension.name.c_str());
  }
  Check(
      X509_CRL_sort(crl.get()) == 1 && X509_CRL_sign(crl.get(), issuer.key.get(), EVP_sha256()) > 0,
      "X509_CRL_sign");
  return crl;
}

}  // namespace

std::string MakeCrlPem(const Authority& issuer, const std::vector<long>& revokedSerials,
                       const std::vector<Extension>& extensions) {
  std::vector<CrlEntry> entries;
  for (long serial : revokedSerials) {
    entries.push_back({serial});
  }
  const std::time_t now = std::time(nullptr);
  CrlPtr crl = MakeCrl(issuer, entries, now, now + 7 * 24 * 3600, extensions);
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_X509_CRL(bio.get(), crl.get()) == 1, "PEM_write_bio_X509_CRL");
  return BioText(bio.get());
}

std::vector<unsigned char> MakeCrlDer(const Authority& issuer, const std::vector<CrlEntry>& entries,
                                      std::time_t thisUpdate, std::time_t nextUpdate) {
  CrlPtr crl = MakeCrl(issuer, entries, thisUpdate, nextUpdate);
  unsigned char* out = nullptr;
  const int length = i2d_X509_CRL(crl.get(), &out);
  Check(length > 0, "i2d_X509_CRL");
  std::vector<unsigned char> der(out, out + length);
  OPENSSL_free(out);
  return der;
}

void WriteKeyPem(EVP_PKEY* key, const std::filesystem::path& path) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_bio_PrivateKey");
  std::ofstream(path, std::ios::binary) << BioText(bio.get());
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
