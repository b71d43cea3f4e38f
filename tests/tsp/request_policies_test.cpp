// CRequest against administrator policies written as real hive files: the defaults a new request
// takes, and the rules Send enforces before anything leaves the machine, first rule first.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "codec/stampmsg/request.h"
#include "horodex/TSPRequest.h"
#include "support/errors.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"

namespace P = Velmora::Platform;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::Testing::ConfigEnvironment;

namespace {

const std::string kKey = "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP]\n";
constexpr P::HRESULT kTsa = P::MakeHResult(0xC2100103);
constexpr P::HRESULT kAuth = P::MakeHResult(0xC2100101);
constexpr P::HRESULT kProxyAuth = P::MakeHResult(0xC2100102);
constexpr P::HRESULT kNonce = P::MakeHResult(0xC2100104);
constexpr P::HRESULT kHashAlg = P::MakeHResult(0xC2100110);
constexpr P::HRESULT kPolicy = P::MakeHResult(0xC2100111);
constexpr P::HRESULT kNoUrl = P::MakeHResult(0xC2100121);
// Once every check passed, Send goes to the network; these addresses lead nowhere, so the
// transport's failure (a WinHTTP error, 12000 to 12999, or an HTTP error status from a proxy of
// the environment) is what says "passed".
bool Passed(P::HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  return (code >= 0x80072EE0u && code <= 0x800732C7u) || code == 0xC2100100u;
}
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

// A list subkey with its entries.
std::string List(const std::string& name, std::initializer_list<std::string> entries) {
  std::string text = "\"" + name + "Setted\"=dword:00000001\n";
  text += "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\" + name + "]\n";
  int n = 0;
  for (const std::string& entry : entries) {
    text += "\"" + std::to_string(++n) + "\"=\"" + entry + "\"\n";
  }
  return text + kKey;  // back in the policy key for what follows
}

class RequestPolicyTest : public ::testing::Test {
 protected:
  ConfigEnvironment env;

  void Policies(const std::string& values) { env.MachinePolicies(values); }

  // Sends the request to `url` with a hash value (of whatever algorithm it names).
  static P::HRESULT Send(CRequest& request, const wchar_t* url = L"https://tsa.example/tsp") {
    request.put_TSAAddress(url);
    const unsigned char hash[32] = {1};
    request.put_DataHash(hash, 32);
    return Velmora::Testing::DerBuild::CodeOf([&] { request.Send(false); });
  }
};

TEST_F(RequestPolicyTest, DefaultsFromPolicies) {
  Policies(
      "\"DefaultTSPURL\"=\"https://tsa.example/tsp\"\n"
      "\"AuthSSLTypeDefault\"=dword:00000002\n\"AuthTypeDefault\"=dword:00000008\n"
      "\"DefaultProxy\"=\"http://proxy:3128\"\n\"ProxyAuthTypeDefault\"=dword:00000010\n"
      "\"DefaultHashAlg\"=\"2.16.840.1.101.3.4.2.3 SHA-512, as the office wants\"\n"
      "\"DefaultPolicyID\"=\"1.2.3.4\"\n\"DefaultCertReq\"=dword:1\n\"UseNonceByDefault\"=dword:"
      "0\n");
  CRequest request;
  EXPECT_STREQ(request.get_TSAAddress(), L"https://tsa.example/tsp");
  EXPECT_EQ(request.get_TSAAuthType(), 2u);
  EXPECT_STREQ(request.get_ProxyAddress(), L"http://proxy:3128");
  EXPECT_EQ(request.get_ProxyAuthType(), 16u);
  EXPECT_STREQ(request.get_DataHashAlgOID(), "2.16.840.1.101.3.4.2.3");
  EXPECT_EQ(request.get_DataHashAlg(), 0x800Eu);
  EXPECT_STREQ(request.get_PolicyID(), "1.2.3.4");
  EXPECT_TRUE(request.get_CertReq());
  EXPECT_FALSE(request.get_UseNonce());

  // The scheme is compared exactly: capitals take the plain default.
  Policies(
      "\"DefaultTSPURL\"=\"HTTPS://tsa.example/tsp\"\n"
      "\"AuthSSLTypeDefault\"=dword:00000002\n\"AuthTypeDefault\"=dword:00000008\n");
  EXPECT_EQ(CRequest().get_TSAAuthType(), 8u);

  // A policy default the platform does not know fails the construction.
  Policies("\"DefaultHashAlg\"=\"not-an-oid\"\n");
  EXPECT_THROW(CRequest(), P::CAtlException);
}

TEST_F(RequestPolicyTest, NonceLength) {
  const auto nonceOf = [](CRequest& request) {
    const unsigned char hash[20] = {};
    request.put_DataHash(hash, 20);
    unsigned char der[512];
    unsigned long length = sizeof der;
    request.Export(der, &length);
    Velmora::PKI::TSP::CRequest decoded;
    decoded.decode(Velmora::CBlob(der, length));
    return *decoded.get_nonce();
  };
  Policies("\"NonceLength\"=dword:00000020\n");
  CRequest request;
  const auto nonce = nonceOf(request);
  EXPECT_GE(nonce.cbData(), 30u);  // 32 random bytes, shortest form, never negative
  EXPECT_LE(nonce.cbData(), 33u);
  EXPECT_FALSE(nonce.isNegative());

  // A length no TSA would take is refused as a bad policy value, not drawn.
  Policies("\"NonceLength\"=dword:7fffffff\n");
  CRequest huge;
  EXPECT_EQ(Send(huge), P::MakeHResult(0x8007000D));
}

TEST_F(RequestPolicyTest, NoPoliciesLetEverythingThrough) {
  CRequest request;
  request.put_TSAAuthType(CRequest::Basic);
  request.put_ProxyAddress(L"http://proxy:3128");
  request.put_ProxyAuthType(CRequest::NTLM);
  request.put_PolicyID("1.2.3");
  EXPECT_PRED1(Passed, Send(request, L"http://tsa.example/"));
  EXPECT_EQ(Send(request, L""), kNoUrl);
}

TEST_F(RequestPolicyTest, AddressLists) {
  Policies(List("AllowedTSPs", {"https://tsa.example/tsp/"}));
  CRequest request;
  EXPECT_PRED1(Passed, Send(request, L"https://tsa.example/tsp/"));
  EXPECT_EQ(Send(request, L"https://tsa.example/tsp"), kTsa);   // no trailing slash
  EXPECT_EQ(Send(request, L"https://TSA.example/tsp/"), kTsa);  // other capitals
  EXPECT_EQ(Send(request, L""), kTsa);  // a policy violation comes before the missing address

  // A proxy list in force without an empty entry forbids going direct.
  Policies(List("AllowedProxies", {"http://proxy:3128"}));
  CRequest direct;
  EXPECT_EQ(Send(direct), kTsa);
  direct.put_ProxyAddress(L"http://proxy:3128");
  EXPECT_PRED1(Passed, Send(direct));
  Policies(List("AllowedProxies", {"http://proxy:3128", ""}));
  CRequest allowedDirect;
  EXPECT_PRED1(Passed, Send(allowedDirect));
}

TEST_F(RequestPolicyTest, PolicyHashAndNonceRules) {
  Policies("\"DisablePolicyID\"=dword:1\n");
  CRequest request;
  EXPECT_PRED1(Passed, Send(request));
  request.put_PolicyID("1.2.3");
  EXPECT_EQ(Send(request), kPolicy);

  Policies(List("AllowedPolicyID", {"1.2.3"}) + List("HashAlgsAllowed", {kSha256}) +
           List("HashAlgsDenied", {"1.3.14.3.2.26"}));
  CRequest listed;
  listed.put_DataHashAlg(kSha256);
  listed.put_PolicyID(L"1.2.3");
  EXPECT_PRED1(Passed, Send(listed));
  listed.put_PolicyID("1.2.3.1");
  EXPECT_EQ(Send(listed), kPolicy);
  listed.put_PolicyID("");
  listed.put_DataHashAlg("2.16.840.1.101.3.4.2.3");
  EXPECT_EQ(Send(listed), kHashAlg);  // not among the allowed

  Policies(List("HashAlgsDenied", {"1.3.14.3.2.26"}) + "\"RequireNonce\"=dword:1\n");
  CRequest denied;
  denied.put_DataHashAlg("1.3.14.3.2.26");
  denied.put_UseNonce(false);
  EXPECT_EQ(Send(denied), kHashAlg);  // the hash rule comes before the nonce rule
  CRequest noNonce;
  noNonce.put_DataHashAlg(kSha256);
  noNonce.put_UseNonce(false);
  EXPECT_EQ(Send(noNonce), kNonce);

  Policies("\"DisableNonce\"=dword:1\n");
  CRequest withNonce;
  EXPECT_EQ(Send(withNonce), kNonce);
  withNonce.put_UseNonce(false);
  EXPECT_PRED1(Passed, Send(withNonce));
}

TEST_F(RequestPolicyTest, AuthenticationTypesByScheme) {
  Policies(
      "\"AuthSSLDenyBasic\"=dword:1\n\"AuthDenyNegotiate\"=dword:1\n"
      "\"ProxyAuthDenyNTLM\"=dword:1\n\"ProxyAuthSSLDenyAnonym\"=dword:1\n");
  CRequest request;
  request.put_TSAAuthType(CRequest::Basic);
  EXPECT_EQ(Send(request, L"https://tsa.example/"), kAuth);
  EXPECT_PRED1(Passed, Send(request, L"http://tsa.example/"));
  request.put_TSAAuthType(CRequest::Negotiate);
  EXPECT_EQ(Send(request, L"http://tsa.example/"), kAuth);
  EXPECT_PRED1(Passed, Send(request, L"ftp://tsa.example/"));  // neither scheme: no flag applies
  request.put_TSAAuthType(static_cast<CRequest::enumAuthTypes>(4));
  EXPECT_PRED1(Passed, Send(request, L"http://tsa.example/"));  // a type no policy names

  request.put_ProxyAddress(L"http://proxy:3128");
  request.put_ProxyAuthType(CRequest::NTLM);
  EXPECT_EQ(Send(request), kProxyAuth);
  request.put_ProxyAuthType(CRequest::Anonym);
  EXPECT_PRED1(Passed, Send(request));
  request.put_ProxyAddress(L"https://proxy:3128");
  EXPECT_EQ(Send(request), kProxyAuth);

  // The TSA rule is checked before the proxy rule, and a user value counts when the machine
  // has none.
  Policies("");
  env.UserPolicies("\"AuthDenyAnonym\"=dword:1\n");
  CRequest user;
  EXPECT_EQ(Send(user, L"http://tsa.example/"), kAuth);
}

}  // namespace
