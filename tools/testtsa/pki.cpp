#include "pki.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <vector>

namespace TestTsa {

namespace {

enum class Kind { ca, tsa, server, client };

constexpr const char* kServerNames = "DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1";

Identity Issue(const char* commonName, Kind kind, const Identity* issuer, long serial,
               const char* serverNames = kServerNames, long notBefore = -3600,
               long notAfter = 10L * 365 * 24 * 3600, KeyType keyType = KeyType::ec,
               const std::vector<TestPki::Extension>& more = {}) {
  const std::time_t now = std::time(nullptr);
  TestPki::CertSpec spec(commonName, serial, now + notBefore, now + notAfter,
                         {{"subjectKeyIdentifier", "hash"}});
  spec.organization = "Horodex Test TSA";
  auto& extensions = spec.extensions;
  if (issuer != nullptr) {
    extensions.push_back({"authorityKeyIdentifier", "keyid"});
  }
  extensions.push_back(
      {"basicConstraints", kind == Kind::ca ? "critical,CA:true" : "critical,CA:false"});
  switch (kind) {
    case Kind::ca:
      extensions.push_back({"keyUsage", "critical,keyCertSign,cRLSign"});
      break;
    case Kind::tsa:
      extensions.push_back({"keyUsage", "critical,digitalSignature,nonRepudiation"});
      extensions.push_back({"extendedKeyUsage", "critical,timeStamping"});
      break;
    case Kind::server:
      extensions.push_back({"keyUsage", "critical,digitalSignature"});
      extensions.push_back({"extendedKeyUsage", "serverAuth"});
      extensions.push_back({"subjectAltName", serverNames});
      break;
    case Kind::client:
      extensions.push_back({"keyUsage", "critical,digitalSignature"});
      extensions.push_back({"extendedKeyUsage", "clientAuth"});
      break;
  }
  extensions.insert(extensions.end(), more.begin(), more.end());
  Identity made{nullptr, NewKey(keyType)};
  made.cert = TestPki::Issue(spec, made.key.get(), issuer != nullptr ? issuer->cert.get() : nullptr,
                             issuer != nullptr ? issuer->key.get() : made.key.get());
  return made;
}

void WriteCert(const X509* cert, const std::filesystem::path& path) {
  BioPtr out(BIO_new_file(path.c_str(), "w"));
  Require(out && PEM_write_bio_X509(out.get(), cert) == 1, "writing " + path.string());
}

void WriteKey(const EVP_PKEY* key, const std::filesystem::path& path) {
  BioPtr out(BIO_new_file(path.c_str(), "w"));
  Require(
      out && PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
      "writing " + path.string());
}

}  // namespace

Pki MakePki(KeyType keyType, const std::string& revocationUrl) {
  std::vector<TestPki::Extension> revocation;
  if (!revocationUrl.empty()) {
    revocation = {{"crlDistributionPoints", "URI:" + revocationUrl + "/ca.crl"},
                  {"authorityInfoAccess", "OCSP;URI:" + revocationUrl + "/ocsp"}};
  }
  constexpr long kTenYears = 10L * 365 * 24 * 3600;
  Pki pki;
  pki.ca =
      Issue("Horodex Test Root CA", Kind::ca, nullptr, 1, kServerNames, -3600, kTenYears, keyType);
  pki.tsa = Issue("Horodex Test TSA", Kind::tsa, &pki.ca, 2, kServerNames, -3600, kTenYears,
                  keyType, revocation);
  pki.server = Issue("localhost", Kind::server, &pki.ca, 3);
  pki.client = Issue("Horodex Test Client", Kind::client, &pki.ca, 4);
  pki.strangerCa = Issue("Stranger CA", Kind::ca, nullptr, 5);
  pki.strangerClient = Issue("Stranger Client", Kind::client, &pki.strangerCa, 6);
  return pki;
}

void WritePki(const Pki& pki, const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  WriteCert(pki.ca.cert.get(), dir / "ca.pem");
  WriteCert(pki.tsa.cert.get(), dir / "tsa.pem");
  WriteKey(pki.tsa.key.get(), dir / "tsa.key");
  WriteCert(pki.server.cert.get(), dir / "server.pem");
  WriteKey(pki.server.key.get(), dir / "server.key");
  WriteCert(pki.client.cert.get(), dir / "client.pem");
  WriteKey(pki.client.key.get(), dir / "client.key");
  {
    BioPtr out(BIO_new_file((dir / "client.der").c_str(), "wb"));
    Require(out && i2d_X509_bio(out.get(), pki.client.cert.get()) == 1, "writing client.der");
  }
  WriteCert(pki.strangerCa.cert.get(), dir / "stranger-ca.pem");
  WriteCert(pki.strangerClient.cert.get(), dir / "stranger-client.pem");
  WriteKey(pki.strangerClient.key.get(), dir / "stranger-client.key");
}

Identity IssueServer(const Identity* issuer, const char* names, long notBefore, long notAfter) {
  return Issue("localhost", Kind::server, issuer, 7, names, notBefore, notAfter);
}

Identity ReadIdentity(const std::filesystem::path& certFile, const std::filesystem::path& keyFile) {
  GostEngineLoaded();  // a GOST key is readable once the engine is loaded
  Identity id;
  BioPtr certIn(BIO_new_file(certFile.c_str(), "r"));
  Require(certIn != nullptr, "opening " + certFile.string());
  id.cert.reset(PEM_read_bio_X509(certIn.get(), nullptr, nullptr, nullptr));
  Require(id.cert != nullptr, "reading " + certFile.string());
  BioPtr keyIn(BIO_new_file(keyFile.c_str(), "r"));
  Require(keyIn != nullptr, "opening " + keyFile.string());
  id.key.reset(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, const_cast<char*>("")));
  Require(id.key != nullptr, "reading " + keyFile.string());
  return id;
}

}  // namespace TestTsa
