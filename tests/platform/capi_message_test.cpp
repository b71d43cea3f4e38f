// CMS decode messages over OpenSSL's tokens: what CryptMsgGetParam gives against OpenSSL's own
// reading, the size-query protocol, and messages that must be refused.
#include <gtest/gtest.h>
#include <openssl/cms.h>

#include <cstring>

#include "codec/cms/signer_info.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
using Velmora::CBlob;
using namespace Velmora::Testing;
using namespace Velmora::Testing::DerBuild;

namespace {

constexpr P::DWORD kEncoding = P::X509_ASN_ENCODING | P::PKCS_7_ASN_ENCODING;

struct MsgClose {
  void operator()(void* m) const noexcept { P::CryptMsgClose(m); }
};
using MsgPtr = std::unique_ptr<void, MsgClose>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo_free>>;

P::HRESULT LastError() {
  return static_cast<P::HRESULT>(P::GetLastError());
}

// A message fed in three parts.
MsgPtr Decode(const CBlob& bytes, P::DWORD type = 0) {
  MsgPtr message(P::CryptMsgOpenToDecode(kEncoding, 0, type, 0, nullptr, nullptr));
  const P::DWORD third = static_cast<P::DWORD>(bytes.cbData() / 3);
  EXPECT_TRUE(P::CryptMsgUpdate(message.get(), bytes.pbData(), third, P::FALSE));
  EXPECT_TRUE(P::CryptMsgUpdate(message.get(), bytes.pbData() + third, third, P::FALSE));
  EXPECT_TRUE(P::CryptMsgUpdate(message.get(), bytes.pbData() + 2 * third,
                                static_cast<P::DWORD>(bytes.cbData()) - 2 * third, P::TRUE))
      << std::hex << P::GetLastError();
  return message;
}

// A parameter read by the size-query protocol, in a pointer-aligned buffer.
std::vector<std::uint64_t> Param(void* message, P::DWORD type, P::DWORD index = 0) {
  P::DWORD size = 0;
  if (!P::CryptMsgGetParam(message, type, index, nullptr, &size)) {
    return {};
  }
  std::vector<std::uint64_t> buffer(size / 8 + 1);
  EXPECT_TRUE(P::CryptMsgGetParam(message, type, index, buffer.data(), &size));
  return buffer;
}

CBlob ParamBytes(void* message, P::DWORD type, P::DWORD index = 0) {
  P::DWORD size = 0;
  EXPECT_TRUE(P::CryptMsgGetParam(message, type, index, nullptr, &size));
  CBlob bytes(size);
  EXPECT_TRUE(P::CryptMsgGetParam(message, type, index, bytes.pbData(), &size));
  return bytes;
}

// OpenSSL's signed attributes as (OID, DER values).
std::vector<std::pair<std::string, std::vector<CBlob>>> OpenSslSignedAttributes(
    CMS_SignerInfo* signer) {
  std::vector<std::pair<std::string, std::vector<CBlob>>> result;
  for (int i = 0; i < CMS_signed_get_attr_count(signer); ++i) {
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, i);
    std::vector<CBlob> values;
    for (int j = 0; j < X509_ATTRIBUTE_count(attribute); ++j) {
      values.push_back(DerOf(X509_ATTRIBUTE_get0_type(attribute, j), i2d_ASN1_TYPE));
    }
    result.emplace_back(OidText(X509_ATTRIBUTE_get0_object(attribute)), std::move(values));
  }
  return result;
}

}  // namespace

TEST(CapiMessage, TokensReadAsOpenSslReadsThem) {
  const CBlob rsaCertificate = OpenSslTsaFile("rsa.der");
  const struct {
    const char* file;
    const char* signer;
  } tokens[] = {{"rsa-full.tst", "rsa.der"},
                {"rsa-keyid.tst", "rsa.der"},
                {"rsa-noattr.tst", "rsa.der"},
                {"ec-ber.tst", "ec.der"},
                {"pss-cms.tst", "pss.der"}};
  for (const auto& [file, signerFile] : tokens) {
    SCOPED_TRACE(file);
    const CBlob bytes = OpenSslTsaFile(file);
    const unsigned char* p = bytes.pbData();
    const CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(bytes.cbData())));
    ASSERT_TRUE(cms);
    CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    const MsgPtr message = Decode(bytes);

    P::DWORD value = 0;
    P::DWORD size = sizeof value;
    ASSERT_TRUE(P::CryptMsgGetParam(message.get(), P::CMSG_SIGNER_COUNT_PARAM, 0, &value, &size));
    EXPECT_EQ(value, 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(
                     ParamBytes(message.get(), P::CMSG_INNER_CONTENT_TYPE_PARAM).pbData()),
                 OidText(CMS_get0_eContentType(cms.get())).c_str());
    const ASN1_OCTET_STRING* const* content = CMS_get0_content(cms.get());
    EXPECT_EQ(ParamBytes(message.get(), P::CMSG_CONTENT_PARAM), CBlob(Bytes(*content)));

    // The certificates, in order.
    STACK_OF(X509)* certificates = CMS_get1_certs(cms.get());
    size = sizeof value;
    ASSERT_TRUE(P::CryptMsgGetParam(message.get(), P::CMSG_CERT_COUNT_PARAM, 0, &value, &size));
    ASSERT_EQ(static_cast<int>(value), certificates != nullptr ? sk_X509_num(certificates) : 0);
    for (P::DWORD i = 0; i < value; ++i) {
      EXPECT_EQ(ParamBytes(message.get(), P::CMSG_CERT_PARAM, i),
                DerOf(sk_X509_value(certificates, static_cast<int>(i)), i2d_X509));
    }
    sk_X509_pop_free(certificates, X509_free);

    // Signed attributes as OpenSSL lists them; none, and no unsigned ones, where there are none.
    const auto expected = OpenSslSignedAttributes(signer);
    const auto buffer = Param(message.get(), P::CMSG_SIGNER_AUTH_ATTR_PARAM);
    if (expected.empty()) {
      EXPECT_TRUE(buffer.empty());
      EXPECT_EQ(LastError(), P::CRYPT_E_ATTRIBUTES_MISSING);
    } else {
      const auto& attributes = *reinterpret_cast<const P::CRYPT_ATTRIBUTES*>(buffer.data());
      ASSERT_EQ(attributes.cAttr, expected.size());
      for (P::DWORD i = 0; i < attributes.cAttr; ++i) {
        const P::CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        EXPECT_EQ(attribute.pszObjId, expected[i].first);
        ASSERT_EQ(attribute.cValue, expected[i].second.size());
        for (P::DWORD j = 0; j < attribute.cValue; ++j) {
          EXPECT_EQ(CBlob(attribute.rgValue[j].pbData, attribute.rgValue[j].cbData),
                    expected[i].second[j]);
        }
      }
    }
    EXPECT_TRUE(Param(message.get(), P::CMSG_SIGNER_UNAUTH_ATTR_PARAM).empty());
    EXPECT_EQ(LastError(), P::CRYPT_E_ATTRIBUTES_MISSING);

    // The encoded signer carries OpenSSL's signature; the signer id finds the signer's
    // certificate in a store, by issuer and serial number or by key identifier.
    Velmora::ASN1::CSignerInfo encoded;
    encoded.decode(ParamBytes(message.get(), P::CMSG_ENCODED_SIGNER));
    EXPECT_EQ(encoded.get_signature(), CBlob(Bytes(CMS_SignerInfo_get0_signature(signer))));
    P::HCERTSTORE store = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    const CBlob signerDer = OpenSslTsaFile(signerFile);
    for (const CBlob* c : {&rsaCertificate, &signerDer}) {
      P::PCCERT_CONTEXT context = P::CertCreateCertificateContext(
          kEncoding, c->pbData(), static_cast<P::DWORD>(c->cbData()));
      P::CertAddCertificateContextToStore(store, context, P::CERT_STORE_ADD_USE_EXISTING, nullptr);
      P::CertFreeCertificateContext(context);
    }
    const auto id = Param(message.get(), P::CMSG_SIGNER_CERT_ID_PARAM);
    const auto& certId = *reinterpret_cast<const P::CERT_ID*>(id.data());
    EXPECT_EQ(certId.dwIdChoice, std::string(file) == "rsa-keyid.tst"
                                     ? P::CERT_ID_KEY_IDENTIFIER
                                     : P::CERT_ID_ISSUER_SERIAL_NUMBER);
    P::PCCERT_CONTEXT found =
        P::CertFindCertificateInStore(store, kEncoding, 0, P::CERT_FIND_CERT_ID, &certId, nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(CBlob(found->pbCertEncoded, found->cbCertEncoded), signerDer);
    P::CertFreeCertificateContext(found);
    if (certId.dwIdChoice == P::CERT_ID_ISSUER_SERIAL_NUMBER) {
      const auto info = Param(message.get(), P::CMSG_SIGNER_CERT_INFO_PARAM);
      found = P::CertFindCertificateInStore(store, kEncoding, 0, P::CERT_FIND_SUBJECT_CERT,
                                            info.data(), nullptr);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(CBlob(found->pbCertEncoded, found->cbCertEncoded), signerDer);
      P::CertFreeCertificateContext(found);
    }
    P::CertCloseStore(store, 0);
  }
}

TEST(CapiMessage, SizeQueriesAndRefusals) {
  const CBlob token = OpenSslTsaFile("rsa-full.tst");
  const MsgPtr message = Decode(token);
  P::DWORD size = 0;
  ASSERT_TRUE(
      P::CryptMsgGetParam(message.get(), P::CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr, &size));
  std::vector<std::uint64_t> buffer(size / 8 + 2);
  P::DWORD small = size - 1;
  EXPECT_FALSE(
      P::CryptMsgGetParam(message.get(), P::CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer.data(), &small));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  EXPECT_EQ(small, size);
  P::DWORD room = size;
  EXPECT_FALSE(P::CryptMsgGetParam(message.get(), P::CMSG_SIGNER_AUTH_ATTR_PARAM, 0,
                                   reinterpret_cast<unsigned char*>(buffer.data()) + 4, &room));
  EXPECT_EQ(LastError(), P::E_INVALIDARG);
  EXPECT_FALSE(P::CryptMsgGetParam(message.get(), P::CMSG_ENCODED_SIGNER, 1, nullptr, &size));
  EXPECT_EQ(LastError(), P::CRYPT_E_INVALID_INDEX);
  EXPECT_FALSE(P::CryptMsgGetParam(message.get(), 999, 0, nullptr, &size));
  EXPECT_EQ(LastError(), P::CRYPT_E_INVALID_MSG_TYPE);
  EXPECT_FALSE(P::CryptMsgUpdate(message.get(), token.pbData(), 1, P::TRUE));
  EXPECT_EQ(LastError(), P::CRYPT_E_MSG_ERROR);

  // Nothing is read before the final part; bad bytes and other content types are refused.
  MsgPtr open(P::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  EXPECT_FALSE(P::CryptMsgGetParam(open.get(), P::CMSG_TYPE_PARAM, 0, nullptr, &size));
  EXPECT_EQ(LastError(), P::CRYPT_E_STREAM_MSG_NOT_READY);
  const struct {
    CBlob bytes;
    P::HRESULT code;
  } refused[] = {
      {CBlob(token.pbData(), token.cbData() - 1), P::CRYPT_E_ASN1_EOD},
      {CBlob(Seq({Oid("1.2.840.113549.1.7.1"), Ctx(0, Octets({1}))})), P::CRYPT_E_INVALID_MSG_TYPE},
      {CBlob(), P::CRYPT_E_ASN1_EOD},
  };
  for (const auto& r : refused) {
    MsgPtr bad(P::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    EXPECT_FALSE(P::CryptMsgUpdate(bad.get(), r.bytes.pbData(),
                                   static_cast<P::DWORD>(r.bytes.cbData()), P::TRUE));
    EXPECT_EQ(LastError(), r.code);
    EXPECT_FALSE(P::CryptMsgGetParam(bad.get(), P::CMSG_TYPE_PARAM, 0, nullptr, &size));
  }

  // A bare SignedData, when the caller names the type.
  Velmora::ASN1::Der::Reader contentInfo = Velmora::ASN1::Der::ReadSingle(token.span()).children();
  contentInfo.next();  // contentType
  const auto signedData = contentInfo.next().children().next();
  const MsgPtr bare = Decode(CBlob(signedData.encoded), P::CMSG_SIGNED);
  EXPECT_EQ(ParamBytes(bare.get(), P::CMSG_CONTENT_PARAM),
            ParamBytes(message.get(), P::CMSG_CONTENT_PARAM));
}
