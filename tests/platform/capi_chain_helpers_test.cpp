// Certificate hashes, multi-byte integers and CMS SignerInfo decoding, each against OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include <vector>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_encode.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/test_ca.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

constexpr P::DWORD kEncoding = P::X509_ASN_ENCODING | P::PKCS_7_ASN_ENCODING;

std::vector<unsigned char> OpenSslDigest(const char* name, const std::vector<unsigned char>& data) {
  std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_get_digestbyname(name), nullptr);
  out.resize(length);
  return out;
}

TEST(CertificateHash, BothFormsHashTheWholeCertificateBySizeQuery) {
  const Authority root = MakeRoot("Hash Root");
  const std::vector<unsigned char>& der = root.cert.der();
  const auto size = static_cast<P::DWORD>(der.size());

  P::DWORD length = 0;
  ASSERT_TRUE(P::CryptHashCertificate(0, P::CALG_SHA_256, 0, der.data(), size, nullptr, &length));
  ASSERT_EQ(length, 32u);
  std::vector<unsigned char> hash(length);
  length = 31;
  EXPECT_FALSE(
      P::CryptHashCertificate(0, P::CALG_SHA_256, 0, der.data(), size, hash.data(), &length));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  EXPECT_EQ(length, 32u);
  ASSERT_TRUE(
      P::CryptHashCertificate(0, P::CALG_SHA_256, 0, der.data(), size, hash.data(), &length));
  EXPECT_EQ(hash, OpenSslDigest("SHA256", der));
  hash.assign(20, 0);
  length = 20;
  ASSERT_TRUE(P::CryptHashCertificate(0, 0, 0, der.data(), size, hash.data(), &length));  // SHA-1
  EXPECT_EQ(hash, OpenSslDigest("SHA1", der));
  EXPECT_FALSE(P::CryptHashCertificate(0, 0x1234, 0, der.data(), size, hash.data(), &length));
  EXPECT_EQ(P::GetLastError(), static_cast<P::DWORD>(P::NTE_BAD_ALGID));

  // CNG names as the OID registry gives them; case does not matter.
  for (const auto& [name, openssl] :
       {std::pair{L"SHA384", "SHA384"}, std::pair{L"sha3-256", "SHA3-256"}}) {
    ASSERT_TRUE(P::CryptHashCertificate2(name, 0, nullptr, der.data(), size, nullptr, &length));
    hash.assign(length, 0);
    ASSERT_TRUE(P::CryptHashCertificate2(name, 0, nullptr, der.data(), size, hash.data(), &length));
    EXPECT_EQ(hash, OpenSslDigest(openssl, der)) << openssl;
  }
  EXPECT_FALSE(P::CryptHashCertificate2(L"RSA", 0, nullptr, der.data(), size, nullptr, &length));
  EXPECT_EQ(P::GetLastError(), static_cast<P::DWORD>(P::NTE_NOT_SUPPORTED));
}

TEST(MultiByteInteger, EncodesTheSerialNumberAsTheCertificateCarriesIt) {
  const CaKeyPtr key = NewKey();
  // 0x80 needs a leading zero byte to stay positive; 0x7F does not.
  for (long serial : {0x80L, 0x7FL, 0x123456789AL}) {
    const TestCert cert(CertSpec("Serial", serial), key.get(), nullptr, key.get());
    const ContextPtr context = cert.context();
    P::DWORD length = 0;
    ASSERT_TRUE(P::CryptEncodeObject(kEncoding, P::X509_MULTI_BYTE_INTEGER,
                                     &context->pCertInfo->SerialNumber, nullptr, &length));
    std::vector<unsigned char> encoded(length);
    ASSERT_TRUE(P::CryptEncodeObject(kEncoding, P::X509_MULTI_BYTE_INTEGER,
                                     &context->pCertInfo->SerialNumber, encoded.data(), &length));
    unsigned char* expected = nullptr;
    const int expectedLength = i2d_ASN1_INTEGER(X509_get_serialNumber(cert.x509()), &expected);
    EXPECT_EQ(encoded, std::vector<unsigned char>(expected, expected + expectedLength)) << serial;
    OPENSSL_free(expected);

    // And back to the little-endian blob.
    ASSERT_TRUE(P::CryptDecodeObject(kEncoding, P::X509_MULTI_BYTE_INTEGER, encoded.data(), length,
                                     0, nullptr, &length));
    std::vector<void*> buffer(length / sizeof(void*) + 1);
    ASSERT_TRUE(P::CryptDecodeObject(kEncoding, P::X509_MULTI_BYTE_INTEGER, encoded.data(),
                                     static_cast<P::DWORD>(encoded.size()), 0, buffer.data(),
                                     &length));
    const auto* blob = reinterpret_cast<const P::CRYPT_INTEGER_BLOB*>(buffer.data());
    const P::CRYPT_INTEGER_BLOB& original = context->pCertInfo->SerialNumber;
    EXPECT_EQ(std::vector<unsigned char>(blob->pbData, blob->pbData + blob->cbData),
              std::vector<unsigned char>(original.pbData, original.pbData + original.cbData));
  }
}

TEST(CmsSignerInfo, DecodesWhatOpenSslSignedIntoOneBuffer) {
  const Authority signer = MakeRoot("Signer", KeyKind::Rsa2048);
  const std::string content = "data";
  std::unique_ptr<BIO, P::FreeWith<BIO_free>> in(BIO_new_mem_buf(content.data(), 4));
  std::unique_ptr<PKCS7, P::FreeWith<PKCS7_free>> p7(
      PKCS7_sign(signer.cert.x509(), signer.key.get(), nullptr, in.get(), PKCS7_BINARY));
  ASSERT_NE(p7, nullptr);
  PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
  unsigned char* der = nullptr;
  const int derLength = i2d_PKCS7_SIGNER_INFO(info, &der);
  const std::vector<unsigned char> encoded(der, der + derLength);
  OPENSSL_free(der);

  P::DWORD length = 0;
  ASSERT_TRUE(P::CryptDecodeObject(kEncoding, P::CMS_SIGNER_INFO, encoded.data(),
                                   static_cast<P::DWORD>(encoded.size()),
                                   P::CRYPT_DECODE_SHARE_OID_STRING_FLAG, nullptr, &length));
  std::vector<void*> buffer(length / sizeof(void*) + 1);
  P::DWORD small = length - 1;
  EXPECT_FALSE(P::CryptDecodeObject(kEncoding, P::CMS_SIGNER_INFO, encoded.data(),
                                    static_cast<P::DWORD>(encoded.size()), 0, buffer.data(),
                                    &small));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  ASSERT_TRUE(P::CryptDecodeObject(kEncoding, P::CMS_SIGNER_INFO, encoded.data(),
                                   static_cast<P::DWORD>(encoded.size()),
                                   P::CRYPT_DECODE_SHARE_OID_STRING_FLAG, buffer.data(), &length));
  const auto& decoded = *reinterpret_cast<const P::CMSG_CMS_SIGNER_INFO*>(buffer.data());
  EXPECT_EQ(decoded.dwVersion, 1u);
  ASSERT_EQ(decoded.SignerId.dwIdChoice, P::CERT_ID_ISSUER_SERIAL_NUMBER);
  const ContextPtr context = signer.cert.context();
  // The signer id finds the certificate, as the stamp's search by signer id does.
  StorePtr store = StoreOf({&signer.cert});
  ContextPtr found(P::CertFindCertificateInStore(store.get(), kEncoding, 0, P::CERT_FIND_CERT_ID,
                                                 &decoded.SignerId, nullptr));
  EXPECT_NE(found, nullptr);
  EXPECT_STREQ(decoded.HashAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
  EXPECT_STREQ(decoded.HashEncryptionAlgorithm.pszObjId, "1.2.840.113549.1.1.1");
  EXPECT_EQ(decoded.EncryptedHash.cbData, 256u);
  // contentType, signingTime, messageDigest and the S/MIME capabilities.
  ASSERT_EQ(decoded.AuthAttrs.cAttr, 4u);
  for (P::DWORD i = 0; i < decoded.AuthAttrs.cAttr; ++i) {
    EXPECT_EQ(decoded.AuthAttrs.rgAttr[i].cValue, 1u);
  }
  EXPECT_EQ(decoded.UnauthAttrs.cAttr, 0u);

  // Cut short, or followed by a stray byte: the decoder's code, nothing laid out.
  for (std::vector<unsigned char> bad :
       {std::vector<unsigned char>(encoded.begin(), encoded.end() - 1), encoded}) {
    if (bad.size() == encoded.size()) {
      bad.push_back(0);
    }
    EXPECT_FALSE(P::CryptDecodeObject(kEncoding, P::CMS_SIGNER_INFO, bad.data(),
                                      static_cast<P::DWORD>(bad.size()), 0, nullptr, &length));
    EXPECT_EQ(P::GetLastError() & 0xFFFFFF00u, 0x80093100u);
  }
}

}  // namespace
