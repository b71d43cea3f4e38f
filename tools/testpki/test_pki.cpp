#include "tools/testpki/test_pki.h"

#include <openssl/ocsp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace TestPki {

namespace {

using BioPtr = std::unique_ptr<BIO, Freer<BIO_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION_free>>;
using TimePtr = std::unique_ptr<ASN1_TIME, Freer<ASN1_TIME_free>>;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    throw std::runtime_error("test PKI: " + what + " failed");
  }
}

template <typename T, typename I2d>
std::vector<unsigned char> Encode(T* object, I2d i2d) {
  unsigned char* out = nullptr;
  const int length = i2d(object, &out);
  Check(length > 0, "DER encoding");
  std::vector<unsigned char> der(out, out + length);
  OPENSSL_free(out);
  return der;
}

template <typename Write>
std::string Pem(Write write) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio && write(bio.get()) == 1, "PEM encoding");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

void AddName(X509_NAME* name, const char* field, const std::string& value) {
  Check(X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0) == 1,
        "subject");
}

}  // namespace

KeyPtr NewKey(KeyKind kind) {
  EVP_PKEY* key = nullptr;
  if (kind == KeyKind::EcP256) {
    key = EVP_EC_gen("P-256");
  } else if (kind == KeyKind::Rsa2048) {
    key = EVP_RSA_gen(2048);
  } else {
    const int nid =
        kind == KeyKind::Gost2012_256 ? NID_id_GostR3410_2012_256 : NID_id_GostR3410_2012_512;
    std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>> ctx(EVP_PKEY_CTX_new_id(nid, nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A") <= 0 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1) {
      key = nullptr;
    }
  }
  Check(key != nullptr, "key generation");
  return KeyPtr(key);
}

const EVP_MD* SigningDigest(const EVP_PKEY* key) {
  switch (EVP_PKEY_get_base_id(key)) {
    case NID_id_GostR3410_2012_256:
      return EVP_get_digestbynid(NID_id_GostR3411_2012_256);
    case NID_id_GostR3410_2012_512:
      return EVP_get_digestbynid(NID_id_GostR3411_2012_512);
    case NID_id_GostR3410_2001:
      return EVP_get_digestbynid(NID_id_GostR3411_94);
    default:
      return EVP_sha256();
  }
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

CertPtr Issue(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
  CertPtr made(X509_new());
  X509* x = made.get();
  Check(x != nullptr && X509_set_version(x, 2) == 1, "X509_new");
  Check(ASN1_INTEGER_set(X509_get_serialNumber(x), spec.serial) == 1, "serial");
  X509_NAME* name = X509_get_subject_name(x);
  if (!spec.organization.empty()) {
    AddName(name, "O", spec.organization);
  }
  AddName(name, "CN", spec.commonName);
  const auto replace = [&](const std::vector<unsigned char>& der, auto set) {
    const unsigned char* p = der.data();
    std::unique_ptr<X509_NAME, Freer<X509_NAME_free>> given(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
    Check(given != nullptr && set(x, given.get()) == 1, "name");
  };
  if (!spec.subjectName.empty()) {
    replace(spec.subjectName, X509_set_subject_name);
  }
  Check(X509_set_issuer_name(x, X509_get_subject_name(issuer != nullptr ? issuer : x)) == 1,
        "issuer");
  if (!spec.issuerName.empty()) {
    replace(spec.issuerName, X509_set_issuer_name);
  }
  Check(ASN1_TIME_set(X509_getm_notBefore(x), spec.notBefore) != nullptr &&
            ASN1_TIME_set(X509_getm_notAfter(x), spec.notAfter) != nullptr,
        "validity");
  Check(X509_set_pubkey(x, key) == 1, "public key");
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer != nullptr ? issuer : x, x, nullptr, nullptr, 0);
  // Extensions read as from a configuration file: certificatePolicies needs one, even empty.
  std::unique_ptr<CONF, Freer<NCONF_free>> conf(NCONF_new(nullptr));
  BioPtr text(BIO_new_mem_buf(spec.config.data(), static_cast<int>(spec.config.size())));
  Check(conf && text && NCONF_load_bio(conf.get(), text.get(), nullptr) == 1, "config");
  X509V3_set_nconf(&ctx, conf.get());
  for (const Extension& extension : spec.extensions) {
    ExtPtr ext(X509V3_EXT_nconf(conf.get(), &ctx, extension.name.c_str(), extension.value.c_str()));
    Check(ext && X509_add_ext(x, ext.get(), -1) == 1, extension.name);
  }
  Check(X509_sign(x, issuerKey, SigningDigest(issuerKey)) > 0, "X509_sign");
  return made;
}

CrlPtr MakeCrl(X509* issuer, EVP_PKEY* issuerKey, const std::vector<CrlEntry>& entries,
               std::time_t thisUpdate, std::time_t nextUpdate,
               const std::vector<Extension>& extensions) {
  CrlPtr crl(X509_CRL_new());
  Check(crl && X509_CRL_set_version(crl.get(), 1) == 1 &&
            X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer)) == 1,
        "X509_CRL_new");
  TimePtr last(ASN1_TIME_set(nullptr, thisUpdate));
  TimePtr next(ASN1_TIME_set(nullptr, nextUpdate));
  Check(X509_CRL_set1_lastUpdate(crl.get(), last.get()) == 1 &&
            X509_CRL_set1_nextUpdate(crl.get(), next.get()) == 1,
        "CRL times");
  for (const CrlEntry& item : entries) {
    X509_REVOKED* entry = X509_REVOKED_new();
    std::unique_ptr<ASN1_INTEGER, Freer<ASN1_INTEGER_free>> number(ASN1_INTEGER_new());
    TimePtr when(ASN1_TIME_set(nullptr, item.when != 0 ? item.when : thisUpdate));
    Check(entry != nullptr && number && ASN1_INTEGER_set(number.get(), item.serial) == 1 &&
              X509_REVOKED_set_serialNumber(entry, number.get()) == 1 &&
              X509_REVOKED_set_revocationDate(entry, when.get()) == 1 &&
              X509_CRL_add0_revoked(crl.get(), entry) == 1,
          "CRL entry");
    if (item.reason >= 0) {
      std::unique_ptr<ASN1_ENUMERATED, Freer<ASN1_ENUMERATED_free>> reason(ASN1_ENUMERATED_new());
      Check(reason && ASN1_ENUMERATED_set(reason.get(), item.reason) == 1 &&
                X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, reason.get(), 0, 0) == 1,
            "CRL reason");
    }
    if (!item.certificateIssuer.empty()) {
      std::unique_ptr<ASN1_OCTET_STRING, Freer<ASN1_OCTET_STRING_free>> value(
          ASN1_OCTET_STRING_new());
      Check(value && ASN1_OCTET_STRING_set(value.get(), item.certificateIssuer.data(),
                                           static_cast<int>(item.certificateIssuer.size())) == 1,
            "certificateIssuer");
      ExtPtr ext(X509_EXTENSION_create_by_NID(nullptr, NID_certificate_issuer, 1, value.get()));
      Check(ext && X509_REVOKED_add_ext(entry, ext.get(), -1) == 1, "certificateIssuer");
    }
  }
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, nullptr, nullptr, crl.get(), 0);
  for (const Extension& extension : extensions) {
    ExtPtr ext(X509V3_EXT_nconf(nullptr, &ctx, extension.name.c_str(), extension.value.c_str()));
    Check(ext && X509_CRL_add_ext(crl.get(), ext.get(), -1) == 1, extension.name);
  }
  Check(X509_CRL_sort(crl.get()) == 1 &&
            X509_CRL_sign(crl.get(), issuerKey, SigningDigest(issuerKey)) > 0,
        "X509_CRL_sign");
  return crl;
}

std::vector<unsigned char> DerOf(X509* cert) {
  return Encode(cert, i2d_X509);
}

std::vector<unsigned char> GoodOcspResponse(X509* subject, X509* issuer, EVP_PKEY* issuerKey,
                                            long validSeconds) {
  std::unique_ptr<OCSP_BASICRESP, Freer<OCSP_BASICRESP_free>> basic(OCSP_BASICRESP_new());
  std::unique_ptr<OCSP_CERTID, Freer<OCSP_CERTID_free>> id(
      OCSP_cert_to_id(EVP_sha1(), subject, issuer));
  TimePtr thisUpdate(X509_gmtime_adj(nullptr, -60));
  TimePtr nextUpdate(X509_gmtime_adj(nullptr, validSeconds));
  Check(basic && id &&
            OCSP_basic_add1_status(basic.get(), id.get(), V_OCSP_CERTSTATUS_GOOD, 0, nullptr,
                                   thisUpdate.get(), nextUpdate.get()) != nullptr &&
            OCSP_basic_sign(basic.get(), issuer, issuerKey, EVP_sha256(), nullptr, 0) == 1,
        "OCSP response");
  std::unique_ptr<OCSP_RESPONSE, Freer<OCSP_RESPONSE_free>> response(
      OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic.get()));
  Check(response != nullptr, "OCSP_response_create");
  return Encode(response.get(), i2d_OCSP_RESPONSE);
}

std::vector<unsigned char> DerOf(X509_CRL* crl) {
  return Encode(crl, i2d_X509_CRL);
}

std::string PemOf(X509* cert) {
  return Pem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
}

std::string PemOf(X509_CRL* crl) {
  return Pem([&](BIO* bio) { return PEM_write_bio_X509_CRL(bio, crl); });
}

std::string PemOf(EVP_PKEY* key) {
  return Pem([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  });
}

}  // namespace TestPki
