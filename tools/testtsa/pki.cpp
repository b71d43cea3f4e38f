#include "pki.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace TestTsa {

namespace {

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  Require(ext != nullptr, std::string("extension ") + value);
  const int added = X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  Require(added == 1, "X509_add_ext");
}

enum class Kind { ca, tsa, server, client };

constexpr const char* kServerNames = "DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1";

Identity Issue(const char* commonName, Kind kind, const Identity* issuer, long serial,
               const char* serverNames = kServerNames, long notBefore = -3600,
               long notAfter = 10L * 365 * 24 * 3600, KeyType keyType = KeyType::ec) {
  Identity made{X509Ptr(X509_new()), NewKey(keyType)};
  X509* cert = made.cert.get();
  Require(cert != nullptr, "X509_new");
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Horodex Test TSA"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509* issuerCert = issuer != nullptr ? issuer->cert.get() : cert;
  X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
  X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
  X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
  X509_set_pubkey(cert, made.key.get());
  AddExtension(cert, issuerCert, NID_subject_key_identifier, "hash");
  if (issuer != nullptr) {
    AddExtension(cert, issuerCert, NID_authority_key_identifier, "keyid");
  }
  switch (kind) {
    case Kind::ca:
      AddExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:true");
      AddExtension(cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
      break;
    case Kind::tsa:
      AddExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:false");
      AddExtension(cert, issuerCert, NID_key_usage, "critical,digitalSignature,nonRepudiation");
      AddExtension(cert, issuerCert, NID_ext_key_usage, "critical,timeStamping");
      break;
    case Kind::server:
      AddExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:false");
      AddExtension(cert, issuerCert, NID_key_usage, "critical,digitalSignature");
      AddExtension(cert, issuerCert, NID_ext_key_usage, "serverAuth");
      AddExtension(cert, issuerCert, NID_subject_alt_name, serverNames);
      break;
    case Kind::client:
      AddExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:false");
      AddExtension(cert, issuerCert, NID_key_usage, "critical,digitalSignature");
      AddExtension(cert, issuerCert, NID_ext_key_usage, "clientAuth");
      break;
  }
  EVP_PKEY* signingKey = issuer != nullptr ? issuer->key.get() : made.key.get();
  Require(X509_sign(cert, signingKey, SigningDigest(signingKey)) > 0, "X509_sign");
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

Pki MakePki(KeyType keyType) {
  constexpr long kTenYears = 10L * 365 * 24 * 3600;
  Pki pki;
  pki.ca =
      Issue("Horodex Test Root CA", Kind::ca, nullptr, 1, kServerNames, -3600, kTenYears, keyType);
  pki.tsa =
      Issue("Horodex Test TSA", Kind::tsa, &pki.ca, 2, kServerNames, -3600, kTenYears, keyType);
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
