// Certificate contexts: every certificate of the real-TSA corpus and of the OpenSSL fixtures read
// by our codec agrees with OpenSSL's reading; bad bytes get the decoder's code; properties,
// reference counts and the lazily made OpenSSL certificate.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <filesystem>

#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "platform/capi/cert_openssl.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"
#include "tests/common/tsp_fixtures.h"

namespace fs = std::filesystem;
namespace P = Velmora::Platform;
using Velmora::CBlob;
using namespace Velmora::Testing;
using namespace Velmora::Testing::DerBuild;

namespace {

std::vector<unsigned char> Span(const P::CRYPT_DATA_BLOB& blob) {
  return {blob.pbData, blob.pbData + blob.cbData};
}

std::vector<unsigned char> Reversed(std::vector<unsigned char> bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

P::FILETIME FileTimeOf(const ASN1_TIME* time) {
  std::tm tm{};
  ASN1_TIME_to_tm(time, &tm);
  return Velmora::CDateTime(timegm(&tm), 0).getFileTime();
}

// Every certificate of the corpus: the files shipped beside the tokens and the tokens' own.
std::vector<std::pair<std::string, CBlob>> CorpusCertificates() {
  std::vector<std::pair<std::string, CBlob>> all;
  for (const auto& entry : fs::recursive_directory_iterator(InteropDir())) {
    const fs::path& path = entry.path();
    const std::string name = fs::relative(path, InteropDir()).generic_string();
    if (path.extension() == ".pem" && name.find("countersig") == std::string::npos) {
      for (CBlob& c : PemCertificates(path)) {
        all.emplace_back(name, std::move(c));
      }
    } else if (path.extension() == ".der" && name.find("countersig") == std::string::npos) {
      all.emplace_back(name, ToBlob(ReadFileBytes(path)));
    } else if ((path.extension() == ".tst" || path.extension() == ".tsr") &&
               path.filename().string().rfind("REJ-", 0) != 0) {
      const CBlob bytes = ToBlob(ReadFileBytes(path));
      Velmora::PKI::TSP::CToken token;
      if (path.extension() == ".tsr") {
        Velmora::PKI::TSP::CResponse response;
        response.decode(bytes);
        token = *response.get_timeStampToken();
      } else {
        token.decode(bytes);
      }
      if (const auto* certificates = token.get_certificates()) {
        for (const CBlob& c : *certificates) {
          all.emplace_back(name, c);
        }
      }
    }
  }
  return all;
}

}  // namespace

TEST(CapiCertificate, OurReadingAgreesWithOpenSslOnEveryCorpusCertificate) {
  std::size_t checked = 0;
  for (const auto& [name, der] : CorpusCertificates()) {
    SCOPED_TRACE(name);
    const X509Ptr x509 = ParseCertificate(der);
    ASSERT_TRUE(x509);
    const ContextPtr context = ContextOf(der);
    ASSERT_TRUE(context) << std::hex << P::GetLastError();
    const P::CERT_INFO& info = *context->pCertInfo;
    EXPECT_EQ(CBlob(context->pbCertEncoded, context->cbCertEncoded), der);
    EXPECT_EQ(context->hCertStore, nullptr);
    EXPECT_EQ(info.dwVersion, static_cast<P::DWORD>(X509_get_version(x509.get())));
    // The serial number's content octets, little-endian.
    const CBlob serialDer = DerOf(X509_get0_serialNumber(x509.get()), i2d_ASN1_INTEGER);
    EXPECT_EQ(Span(info.SerialNumber),
              Reversed({serialDer.bytes().begin() + 2, serialDer.bytes().end()}));
    EXPECT_EQ(CBlob(Span(info.Issuer)), DerOf(X509_get_issuer_name(x509.get()), i2d_X509_NAME));
    EXPECT_EQ(CBlob(Span(info.Subject)), DerOf(X509_get_subject_name(x509.get()), i2d_X509_NAME));
    const P::FILETIME notBefore = FileTimeOf(X509_get0_notBefore(x509.get()));
    const P::FILETIME notAfter = FileTimeOf(X509_get0_notAfter(x509.get()));
    EXPECT_EQ(info.NotBefore.dwLowDateTime, notBefore.dwLowDateTime);
    EXPECT_EQ(info.NotBefore.dwHighDateTime, notBefore.dwHighDateTime);
    EXPECT_EQ(info.NotAfter.dwHighDateTime, notAfter.dwHighDateTime);
    EXPECT_EQ(info.NotAfter.dwLowDateTime, notAfter.dwLowDateTime);
    const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(x509.get());
    EXPECT_EQ(Span({info.SubjectPublicKeyInfo.PublicKey.cbData,
                    info.SubjectPublicKeyInfo.PublicKey.pbData}),
              Bytes(key));
    ASSERT_EQ(static_cast<int>(info.cExtension), X509_get_ext_count(x509.get()));
    for (int i = 0; i < X509_get_ext_count(x509.get()); ++i) {
      X509_EXTENSION* e = X509_get_ext(x509.get(), i);
      EXPECT_EQ(info.rgExtension[i].pszObjId, OidText(X509_EXTENSION_get_object(e)));
      EXPECT_EQ(info.rgExtension[i].fCritical != 0, X509_EXTENSION_get_critical(e) != 0);
      EXPECT_EQ(Span(info.rgExtension[i].Value), Bytes(X509_EXTENSION_get_data(e)));
    }
    // The OpenSSL certificate is made on demand, once.
    X509* ours = P::CertContextGetX509(context.get());
    ASSERT_NE(ours, nullptr);
    EXPECT_EQ(X509_cmp(ours, x509.get()), 0);
    EXPECT_EQ(P::CertContextGetX509(context.get()), ours);
    ++checked;
  }
  EXPECT_GE(checked, 72u);
}

TEST(CapiCertificate, BytesThatAreNoCertificateGetTheDecodersCode) {
  const CBlob good = OpenSslTsaFile("rsa.der");
  CBlob trailing = good;
  trailing += CBlob(V{0x00});
  const CBlob truncated(good.pbData(), good.cbData() - 1);
  const struct {
    const char* what;
    CBlob bytes;
    P::HRESULT code;
  } rows[] = {
      {"empty", CBlob(), P::CRYPT_E_ASN1_EOD},
      {"truncated", truncated, P::CRYPT_E_ASN1_EOD},
      {"trailing byte", trailing, P::CRYPT_E_ASN1_ERROR},
      {"an INTEGER", CBlob(Int(5)), P::CRYPT_E_ASN1_BADTAG},
      {"no signature", CBlob(Seq({Seq({Int(1)})})), P::CRYPT_E_ASN1_EOD},
      {"version 4",
       CBlob(Seq({Seq({Ctx(0, Int(3))}), Seq({Oid("1.2.3")}), Tlv(Der::Tags::BitString, {0})})),
       P::CRYPT_E_ASN1_LARGE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    P::SetLastError(0);
    EXPECT_EQ(ContextOf(row.bytes), nullptr);
    EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), row.code);
  }
  P::SetLastError(0);
  EXPECT_EQ(P::CertCreateCertificateContext(P::PKCS_7_ASN_ENCODING, good.pbData(),
                                            static_cast<P::DWORD>(good.cbData())),
            nullptr);
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::E_INVALIDARG);
  EXPECT_EQ(P::CertCreateCertificateContext(P::X509_ASN_ENCODING, nullptr, 4), nullptr);
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::E_INVALIDARG);
}

TEST(CapiCertificate, PropertiesAreComputedOrCopiedAndShared) {
  const CBlob der = OpenSslTsaFile("rsa.der");
  const X509Ptr x509 = ParseCertificate(der);
  const ContextPtr context = ContextOf(der);
  ASSERT_TRUE(context);
  // A duplicate is the same context, so it sees the same properties.
  const ContextPtr duplicate(P::CertDuplicateCertificateContext(context.get()));
  EXPECT_EQ(duplicate.get(), context.get());

  // Hashes and the key identifier are worked out on first read, then listed.
  EXPECT_EQ(P::CertEnumCertificateContextProperties(context.get(), 0), 0u);
  auto read = [&](P::DWORD id) {
    P::DWORD size = 0;
    EXPECT_TRUE(P::CertGetCertificateContextProperty(duplicate.get(), id, nullptr, &size));
    std::vector<unsigned char> value(size);
    EXPECT_TRUE(P::CertGetCertificateContextProperty(duplicate.get(), id, value.data(), &size));
    return value;
  };
  for (const auto& [id, md] : {std::pair{P::CERT_SHA1_HASH_PROP_ID, EVP_sha1()},
                               std::pair{P::CERT_SHA256_HASH_PROP_ID, EVP_sha256()}}) {
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(x509.get(), md, expected, &length);
    EXPECT_EQ(read(id), std::vector<unsigned char>(expected, expected + length));
  }
  EXPECT_EQ(read(P::CERT_KEY_IDENTIFIER_PROP_ID), Bytes(X509_get0_subject_key_id(x509.get())));
  EXPECT_EQ(P::CertEnumCertificateContextProperties(context.get(), 0), P::CERT_SHA1_HASH_PROP_ID);

  // Key provider information is copied in and laid out in the caller's buffer with its texts.
  wchar_t container[] = L"/home/user/.config/velmora/certstores/My/tsa.key";
  unsigned char paramData[] = {1, 2, 3};
  P::CRYPT_KEY_PROV_PARAM param{7, paramData, 3, 0};
  const P::CRYPT_KEY_PROV_INFO info{container, nullptr, 1, 0, 1, &param, 2};
  ASSERT_TRUE(
      P::CertSetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  container[0] = L'X';
  P::DWORD size = 0;
  ASSERT_TRUE(P::CertGetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID,
                                                   nullptr, &size));
  P::DWORD small = 8;
  std::vector<std::uint64_t> buffer(size / 8 + 1);
  EXPECT_FALSE(P::CertGetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID,
                                                    buffer.data(), &small));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  EXPECT_EQ(small, size);
  ASSERT_TRUE(P::CertGetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID,
                                                   buffer.data(), &size));
  const auto& copy = *reinterpret_cast<const P::CRYPT_KEY_PROV_INFO*>(buffer.data());
  EXPECT_STREQ(copy.pwszContainerName, L"/home/user/.config/velmora/certstores/My/tsa.key");
  EXPECT_EQ(copy.pwszProvName, nullptr);
  ASSERT_EQ(copy.cProvParam, 1u);
  EXPECT_EQ(std::vector<unsigned char>(copy.rgProvParam[0].pbData, copy.rgProvParam[0].pbData + 3),
            std::vector<unsigned char>({1, 2, 3}));

  // Null removes a property; an absent one is not found.
  ASSERT_TRUE(P::CertSetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                   nullptr));
  EXPECT_FALSE(P::CertGetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID,
                                                    nullptr, &size));
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::CRYPT_E_NOT_FOUND);
}
