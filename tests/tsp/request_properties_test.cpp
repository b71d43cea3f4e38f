// CRequest without a network: defaults, which setters drop the cached encoding, copies, hashing,
// Export and Import.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codec/stampmsg/request.h"
#include "horodex/TSPRequest.h"
#include "platform/capi/wincrypt_oid.h"
#include "support/errors.h"
#include "support/oid_info.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"
#include "tests/common/ossl.h"

namespace P = Velmora::Platform;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::Testing::ConfigEnvironment;

using Velmora::Testing::DerBuild::CodeOf;

namespace {

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha1 = "1.3.14.3.2.26";

std::vector<unsigned char> Exported(CRequest& request) {
  unsigned long length = 0;
  request.Export(nullptr, &length);
  std::vector<unsigned char> der(length);
  request.Export(der.data(), &length);
  der.resize(length);
  return der;
}

std::vector<unsigned char> DataHash(CRequest& request) {
  unsigned long length = 0;
  request.get_DataHash(nullptr, &length);
  std::vector<unsigned char> value(length);
  request.get_DataHash(value.data(), &length);
  return value;
}

Velmora::PKI::TSP::CRequest Decoded(const std::vector<unsigned char>& der) {
  Velmora::PKI::TSP::CRequest decoded;
  decoded.decode(CBlob(der.data(), static_cast<unsigned long>(der.size())));
  return decoded;
}

class RequestTest : public ::testing::Test {
 protected:
  ConfigEnvironment env;  // no policy files: every default
};

TEST_F(RequestTest, WideTextInBothForms) {
  CRequest request;
  const unsigned short utf16[] = {'h', 't', 't', 'p', ':', '/', '/', 0x0442, 0x0441, 0};
  request.put_TSAAddress(utf16);
  EXPECT_STREQ(request.get_TSAAddress(), L"http://\u0442\u0441");
  EXPECT_EQ(
      std::u16string(reinterpret_cast<const char16_t*>(request.get_TSAAddress<unsigned short>())),
      u"http://\u0442\u0441");
  request.put_ProxyPassword(L"p\u00e4ss");
  EXPECT_EQ(request.get_ProxyPassword<unsigned short>()[1], 0x00e4);
  request.put_ProxyAddress(static_cast<const wchar_t*>(nullptr));
  EXPECT_STREQ(request.get_ProxyAddress(), L"");
  request.put_PolicyID(L"1.2.3");
  EXPECT_STREQ(request.get_PolicyID(), "1.2.3");
}

// Which setters drop the built request (and with it the HTTP status and the nonce), which keep it.
TEST_F(RequestTest, InvalidationRules) {
  CRequest request;
  request.put_DataHashAlg(kSha256);
  const std::vector<unsigned char> hash(32, 0xAB);
  request.put_DataHash(hash.data(), 32);
  std::vector<unsigned char> built = Exported(request);

  const auto keeps = [&](const char* what, const std::function<void()>& change) {
    change();
    EXPECT_EQ(Exported(request), built) << what;
  };
  keeps("same certReq", [&] { request.put_CertReq(false); });
  keeps("same nonce use", [&] { request.put_UseNonce(true); });
  keeps("same policy", [&] { request.put_PolicyID(""); });
  keeps("same algorithm by OID", [&] { request.put_DataHashAlg(kSha256); });
  keeps("same algorithm by ALG_ID", [&] { request.put_DataHashAlg(P::CALG_SHA_256); });
  keeps("TSA address", [&] { request.put_TSAAddress(L"http://tsa.example/"); });
  keeps("TSA credentials", [&] {
    request.put_TSAUserName(L"u");
    request.put_TSAPassword(L"p");
    request.put_TSAAuthType(CRequest::Basic);
  });
  keeps("proxy", [&] {
    request.put_ProxyAddress(L"http://proxy:3128");
    request.put_ProxyAuthType(CRequest::NTLM);
  });
  keeps("flags", [&] { request.put_Flags(1); });
  keeps("client certificate", [&] { request.put_ClientCertificate(nullptr); });

  // Each of these gives a new encoding with a new nonce.
  const auto renews = [&](const char* what, const std::function<void()>& change) {
    const auto before = Decoded(built);
    change();
    built = Exported(request);
    const auto after = Decoded(built);
    ASSERT_NE(after.get_nonce(), nullptr) << what;
    EXPECT_FALSE(*after.get_nonce() == *before.get_nonce()) << what;
  };
  renews("certReq", [&] { request.put_CertReq(true); });
  renews("policy", [&] { request.put_PolicyID("1.2.3.4"); });
  renews("policy by wide text", [&] { request.put_PolicyID(L"1.2.3.5"); });
  renews("algorithm", [&] { request.put_DataHashAlg(P::CALG_SHA1); });
  renews("same hash value again", [&] { request.put_DataHash(hash.data(), 32); });
  renews("nonce off and on", [&] {
    request.put_UseNonce(false);
    EXPECT_EQ(Decoded(Exported(request)).get_nonce(), nullptr);
    request.put_UseNonce(true);
  });
  const auto decoded = Decoded(built);
  EXPECT_TRUE(decoded.get_certReq());
  EXPECT_STREQ(decoded.get_reqPolicy(), "1.2.3.5");
  EXPECT_STREQ(decoded.get_hashAlgorithm().get_algorithm(), kSha1);
  EXPECT_GE(decoded.get_nonce()->cbData(), 1u);
  EXPECT_FALSE(decoded.get_nonce()->isNegative());

  // ResetData drops the hash and the encoding; the algorithm stays.
  request.ResetData();
  EXPECT_EQ(request.get_DataHashAlg(), P::CALG_SHA1);
  EXPECT_EQ(CodeOf([&] { DataHash(request); }), P::MakeHResult(0xC2100123));
}

TEST_F(RequestTest, HashAlgorithmSelection) {
  CRequest request;
  // An ALG_ID the registry does not know as a hash leaves the algorithm as it was.
  request.put_DataHashAlg(P::CALG_SHA_256);
  EXPECT_EQ(CodeOf([&] { request.put_DataHashAlg(0x1234u); }), P::NTE_BAD_ALGID);
  EXPECT_EQ(request.get_DataHashAlg(), P::CALG_SHA_256);
  EXPECT_STREQ(request.get_DataHashAlgOID(), kSha256);
  // An OID the registry lacks is taken with ALG_ID 0: a hash value can be given, data not.
  request.put_DataHashAlg("1.2.3.4.5.6");
  EXPECT_EQ(request.get_DataHashAlg(), 0u);
  EXPECT_STREQ(request.get_DataHashAlgOID(), "1.2.3.4.5.6");
  const unsigned char data[] = {1, 2, 3};
  EXPECT_NE(CodeOf([&] { request.AddData(data, 3); }), P::S_OK);
  request.put_DataHash(data, 3);
  EXPECT_STREQ(Decoded(Exported(request)).get_hashAlgorithm().get_algorithm(), "1.2.3.4.5.6");
  EXPECT_EQ(CodeOf([&] { request.put_DataHashAlg("not an oid"); }), P::CRYPT_E_OID_FORMAT);
}

TEST_F(RequestTest, HashingDataInPieces) {
  CRequest request;
  request.put_DataHashAlg(kSha256);
  const std::string first = "The data ", second = "in two pieces.";
  request.AddData(reinterpret_cast<const unsigned char*>(first.data()),
                  static_cast<unsigned long>(first.size()));
  // No algorithm or value may be set while hashing.
  EXPECT_EQ(CodeOf([&] { request.put_DataHashAlg(kSha1); }), P::NTE_BAD_HASH_STATE);
  EXPECT_EQ(CodeOf([&] { request.put_DataHash(nullptr, 0); }), P::NTE_BAD_HASH_STATE);
  request.AddData(reinterpret_cast<const unsigned char*>(second.data()),
                  static_cast<unsigned long>(second.size()));

  // A copy carries the running hash and goes on independently.
  CRequest copy(request);
  copy.AddData(reinterpret_cast<const unsigned char*>("!"), 1);

  const std::string joined = first + second;
  const CBlob expected = Velmora::Testing::DigestOf(
      kSha256, CBlob(reinterpret_cast<const unsigned char*>(joined.data()),
                     static_cast<unsigned long>(joined.size())));
  EXPECT_EQ(DataHash(request), expected.bytes());
  const std::string longer = joined + "!";
  EXPECT_EQ(DataHash(copy),
            Velmora::Testing::DigestOf(kSha256,
                                       CBlob(reinterpret_cast<const unsigned char*>(longer.data()),
                                             static_cast<unsigned long>(longer.size())))
                .bytes());

  // Finished: more data is refused until ResetData.
  EXPECT_EQ(CodeOf([&] { request.AddData(nullptr, 0); }), P::CRYPT_E_EXISTS);
  unsigned long small = 31;
  unsigned char buffer[31];
  EXPECT_EQ(CodeOf([&] { request.get_DataHash(buffer, &small); }), P::MakeHResult(0x800700EA));
  EXPECT_EQ(small, 32u);
  request.ResetData();
  request.AddData(nullptr, 0);
  EXPECT_EQ(DataHash(request), Velmora::Testing::DigestOf(kSha256, CBlob()).bytes());
}

TEST_F(RequestTest, CopyAndAssignment) {
  CRequest source;
  source.put_DataHashAlg(kSha256);
  const std::vector<unsigned char> hash(32, 7);
  source.put_DataHash(hash.data(), 32);
  source.put_TSAAddress(L"https://tsa.example/");
  source.put_PolicyID("1.2.3");
  source.put_Flags(5);
  const std::vector<unsigned char> built = Exported(source);

  CRequest target;
  target = source;
  EXPECT_EQ(Exported(target), built);  // same encoding, same nonce
  EXPECT_STREQ(target.get_TSAAddress(), L"https://tsa.example/");
  EXPECT_STREQ(target.get_PolicyID(), "1.2.3");
  EXPECT_EQ(target.get_Flags(), 5u);

  CRequest& self = target;
  target = self;
  EXPECT_EQ(Exported(target), built);
  EXPECT_STREQ(target.get_TSAAddress(), L"https://tsa.example/");

  // The copy is independent: changing it leaves the source built.
  target.put_CertReq(true);
  EXPECT_NE(Exported(target), built);
  EXPECT_EQ(Exported(source), built);
}

TEST_F(RequestTest, ImportThenExport) {
  // A request with reqPolicy, nonce and certReq.
  CRequest maker;
  maker.put_DataHashAlg(kSha256);
  const std::vector<unsigned char> hash(32, 0x5A);
  maker.put_DataHash(hash.data(), 32);
  maker.put_PolicyID("1.2.3.4");
  maker.put_CertReq(true);
  std::vector<unsigned char> der = Exported(maker);

  CRequest request;
  request.put_PolicyID("9.9.9");
  request.Import(der.data(), static_cast<unsigned long>(der.size()));
  EXPECT_EQ(Exported(request), der);
  EXPECT_TRUE(request.get_CertReq());
  EXPECT_STREQ(request.get_PolicyID(), "1.2.3.4");
  EXPECT_EQ(request.get_DataHashAlg(), P::CALG_SHA_256);
  EXPECT_EQ(DataHash(request), hash);

  // Without reqPolicy the policy stays; after a change, a fresh nonce.
  maker.put_PolicyID("");
  const std::vector<unsigned char> plain = Exported(maker);
  request.Import(plain.data(), static_cast<unsigned long>(plain.size()));
  EXPECT_STREQ(request.get_PolicyID(), "1.2.3.4");
  request.put_CertReq(false);
  const auto rebuilt = Decoded(Exported(request));
  EXPECT_FALSE(*rebuilt.get_nonce() == *Decoded(plain).get_nonce());

  // Bytes that are not a request change nothing: the request still exports what it had.
  const std::vector<unsigned char> before = Exported(request);
  std::vector<unsigned char> broken = plain;
  broken.push_back(0);
  EXPECT_NE(
      CodeOf([&] { request.Import(broken.data(), static_cast<unsigned long>(broken.size())); }),
      P::S_OK);
  EXPECT_EQ(Exported(request), before);
  // A buffer one byte short is refused and told the size.
  unsigned long tooSmall = static_cast<unsigned long>(before.size() - 1);
  std::vector<unsigned char> out(before.size() - 1);
  EXPECT_EQ(CodeOf([&] { request.Export(out.data(), &tooSmall); }), P::MakeHResult(0x800700EA));
  EXPECT_EQ(tooSmall, before.size());

  // OpenSSL-style bytes with an extension and a small nonce: kept as they came, dropped (and the
  // nonce drawn afresh) once a change makes the request build anew.
  std::vector<unsigned char> withExtension = {0x30, 0x34, 0x02, 0x01, 0x01, 0x30, 0x1F, 0x30, 0x07,
                                              0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x04, 0x14};
  withExtension.insert(withExtension.end(), 20, 0x42);
  withExtension.insert(withExtension.end(), {0x02, 0x01, 0x05, 0xA0, 0x0B, 0x30, 0x09, 0x06, 0x03,
                                             0x2A, 0x03, 0x04, 0x04, 0x02, 0x05, 0x00});
  CRequest extended;
  extended.Import(withExtension.data(), static_cast<unsigned long>(withExtension.size()));
  EXPECT_EQ(Exported(extended), withExtension);
  EXPECT_EQ(extended.get_DataHashAlg(), P::CALG_SHA1);
  extended.put_CertReq(true);
  const auto fresh = Decoded(Exported(extended));
  EXPECT_EQ(fresh.get_extensions(), nullptr);
  EXPECT_GE(fresh.get_nonce()->cbData(), 2u);
  EXPECT_EQ(fresh.get_hashedMessage().bytes(), std::vector<unsigned char>(20, 0x42));

  // An import drops a running hash, which would otherwise replace the imported hash value.
  CRequest hashing;
  hashing.put_DataHashAlg(kSha256);
  hashing.AddData(reinterpret_cast<const unsigned char*>("x"), 1);
  hashing.Import(der.data(), static_cast<unsigned long>(der.size()));
  hashing.put_CertReq(false);
  EXPECT_EQ(DataHash(hashing), hash);
}

}  // namespace
