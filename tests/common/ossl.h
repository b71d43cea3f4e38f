// OpenSSL as the tests' independent second opinion: owners for its handles and small readers.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "codec/asnkit/big_integer.h"
#include "codec/cms/signer_info.h"
#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "platform/base/free_with.h"

namespace Velmora::Testing {

template <auto Free>
using OsslDeleter = Velmora::Platform::FreeWith<Free>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, OsslDeleter<TS_RESP_free>>;
using TsReqPtr = std::unique_ptr<TS_REQ, OsslDeleter<TS_REQ_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OsslDeleter<TS_TST_INFO_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OsslDeleter<PKCS7_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OsslDeleter<BN_free>>;

// Dotted text of an OID.
std::string OidText(const ASN1_OBJECT* oid);
// Decimal text of an INTEGER as OpenSSL reads it, and of our integer's bytes.
std::string DecimalOf(const ASN1_INTEGER* value);
std::string DecimalOf(const ASN1::CBigInteger& value);
// The DER of an OpenSSL object through its i2d function.
template <typename T, typename I2d>
CBlob DerOf(const T* object, I2d i2d) {
  unsigned char* out = nullptr;
  const int length = i2d(object, &out);
  CBlob blob(length > 0 ? out : nullptr, length > 0 ? static_cast<unsigned long>(length) : 0);
  OPENSSL_free(out);
  return blob;
}
std::vector<unsigned char> Bytes(const ASN1_STRING* string);
std::string HexOf(const CBlob& blob);

X509Ptr ParseCertificate(const CBlob& der);
// The certificates of a PEM file, each as DER.
std::vector<CBlob> PemCertificates(const std::filesystem::path& path);
// Whether the certificate is the one the signer names (issuer and serial number, or subject key
// identifier).
bool NamesCertificate(const ASN1::CSignerInfo& signer, const CBlob& certificateDer);
// Whether two certificates carry the same public key.
bool SamePublicKey(const CBlob& a, const CBlob& b);
// The digest of `data` under the hash algorithm of the given OID.
CBlob DigestOf(const std::string& oid, const CBlob& data);

}  // namespace Velmora::Testing
