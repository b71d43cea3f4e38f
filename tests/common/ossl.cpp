#include "tests/common/ossl.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace Velmora::Testing {

std::string OidText(const ASN1_OBJECT* oid) {
  char text[256];
  const int length = OBJ_obj2txt(text, sizeof text, oid, 1);
  return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

std::string DecimalOf(const ASN1_INTEGER* value) {
  BignumPtr number(ASN1_INTEGER_to_BN(value, nullptr));
  if (!number) {
    return "?";
  }
  char* text = BN_bn2dec(number.get());
  std::string result = text != nullptr ? text : "?";
  OPENSSL_free(text);
  return result;
}

std::string DecimalOf(const ASN1::CBigInteger& value) {
  const CBlob der = value.encode();
  const unsigned char* p = der.pbData();
  std::unique_ptr<ASN1_INTEGER, OsslDeleter<ASN1_INTEGER_free>> integer(
      d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der.cbData())));
  return integer ? DecimalOf(integer.get()) : "?";
}

std::vector<unsigned char> Bytes(const ASN1_STRING* string) {
  const unsigned char* data = ASN1_STRING_get0_data(string);
  return {data, data + ASN1_STRING_length(string)};
}

std::string HexOf(const CBlob& blob) {
  std::string text;
  char pair[3];
  for (const unsigned char b : blob.bytes()) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

X509Ptr ParseCertificate(const CBlob& der) {
  const unsigned char* p = der.pbData();
  return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.cbData())));
}

std::vector<CBlob> PemCertificates(const std::filesystem::path& path) {
  std::unique_ptr<BIO, OsslDeleter<BIO_free>> bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::vector<CBlob> certificates;
  while (X509Ptr certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    certificates.push_back(DerOf(certificate.get(), i2d_X509));
  }
  ERR_clear_error();
  return certificates;
}

bool NamesCertificate(const ASN1::CSignerInfo& signer, const CBlob& certificateDer) {
  const X509Ptr certificate = ParseCertificate(certificateDer);
  if (!certificate) {
    return false;
  }
  if (const CBlob* keyId = signer.get_subjectKeyIdentifier()) {
    const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(certificate.get());
    return ski != nullptr && Bytes(ski) == keyId->bytes();
  }
  // Names are compared as X.509 compares them (some TSAs spell the issuer in another string
  // type than the certificate does), serial numbers by value.
  const CBlob* issuer = signer.get_issuer();
  if (issuer == nullptr) {
    return false;
  }
  const unsigned char* p = issuer->pbData();
  std::unique_ptr<X509_NAME, OsslDeleter<X509_NAME_free>> name(
      d2i_X509_NAME(nullptr, &p, static_cast<long>(issuer->cbData())));
  return name && X509_NAME_cmp(name.get(), X509_get_issuer_name(certificate.get())) == 0 &&
         DecimalOf(*signer.get_serialNumber()) ==
             DecimalOf(X509_get0_serialNumber(certificate.get()));
}

bool SamePublicKey(const CBlob& a, const CBlob& b) {
  const X509Ptr first = ParseCertificate(a);
  const X509Ptr second = ParseCertificate(b);
  return first && second &&
         EVP_PKEY_eq(X509_get0_pubkey(first.get()), X509_get0_pubkey(second.get())) == 1;
}

CBlob DigestOf(const std::string& oid, const CBlob& data) {
  std::unique_ptr<EVP_MD, OsslDeleter<EVP_MD_free>> md(EVP_MD_fetch(nullptr, oid.c_str(), nullptr));
  if (!md) {
    throw std::runtime_error("OpenSSL has no digest " + oid);
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if ((EVP_MD_get_flags(md.get()) & EVP_MD_FLAG_XOF) != 0) {
    // SHAKE256 as CMS uses it with Ed448: 512 bits of output.
    length = 64;
    std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), data.pbData(), data.cbData()) != 1 ||
        EVP_DigestFinalXOF(ctx.get(), out, length) != 1) {
      throw std::runtime_error("digest failed");
    }
  } else if (EVP_Digest(data.pbData(), data.cbData(), out, &length, md.get(), nullptr) != 1) {
    throw std::runtime_error("digest failed");
  }
  return CBlob(out, length);
}

}  // namespace Velmora::Testing
