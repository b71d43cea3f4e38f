// Our requests in OpenSSL's hands: `openssl ts -query` reads them, its responder answers them, and
// the stamp it makes passes the checks against our request, while one made for another hash or
// nonce fails them with the right code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "support/errors.h"
#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;

namespace {

std::vector<unsigned char> Exported(CRequest& request) {
  unsigned long length = 0;
  request.Export(nullptr, &length);
  std::vector<unsigned char> der(length);
  request.Export(der.data(), &length);
  return der;
}

class RequestInteropTest : public ::testing::Test {
 protected:
  T::ConfigEnvironment env;
  T::TempDir dir;

  // Writes the request, has OpenSSL print it, and has OpenSSL's responder answer it; returns the
  // response's bytes.
  std::vector<unsigned char> Answer(CRequest& request, const std::string& name,
                                    std::string* text = nullptr) {
    const auto query = dir / (name + ".tsq");
    const auto reply = dir / (name + ".tsr");
    T::WriteFileBytes(query, Exported(request));
    const T::CommandResult shown =
        T::RunCommand("openssl ts -query -in " + T::ShellQuote(query.string()) + " -text");
    EXPECT_EQ(shown.exitCode, 0) << shown.output;
    if (text != nullptr) {
      *text = shown.output;
    }
    const auto& tsa = T::OpenSslTsaDir();
    const std::string cnf = std::string(HORODEX_SOURCE_DIR) + "/tests/data/openssl/tsa.cnf";
    const T::CommandResult answered = T::RunCommand(
        "TSA_SERIAL=" + T::ShellQuote((tsa / "serial").string()) + " TSA_CHAIN=" +
        T::ShellQuote((tsa / "chain.pem").string()) + " openssl ts -reply -config " +
        T::ShellQuote(cnf) + " -section full -queryfile " + T::ShellQuote(query.string()) +
        " -signer " + T::ShellQuote((tsa / "rsa.pem").string()) + " -inkey " +
        T::ShellQuote((tsa / "rsa.key").string()) + " -out " + T::ShellQuote(reply.string()));
    EXPECT_EQ(answered.exitCode, 0) << answered.output;
    return T::ReadFileBytes(reply);
  }

  static P::HRESULT Import(CStamp& stamp, const std::vector<unsigned char>& reply,
                           const CRequest* request) {
    try {
      stamp.Import(reply.data(), static_cast<unsigned long>(reply.size()), request);
    } catch (const P::CAtlException& e) {
      return e.hr();
    }
    return P::S_OK;
  }
};

TEST_F(RequestInteropTest, OpenSslReadsAndAnswersOurRequests) {
  CRequest request;
  request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
  const std::string data = "The data that the tests stamp.\n";
  request.AddData(reinterpret_cast<const unsigned char*>(data.data()),
                  static_cast<unsigned long>(data.size()));
  request.put_CertReq(true);
  request.put_PolicyID("1.2.3.4.5");
  std::string text;
  const std::vector<unsigned char> reply = Answer(request, "full", &text);
  EXPECT_NE(text.find("Policy OID: 1.2.3.4.5"), std::string::npos) << text;
  EXPECT_NE(text.find("Certificate required: yes"), std::string::npos) << text;
  EXPECT_NE(text.find("sha256"), std::string::npos) << text;

  CStamp stamp;
  ASSERT_EQ(Import(stamp, reply, &request), P::S_OK);
  EXPECT_EQ(stamp.get_Status(), 0u);
  EXPECT_TRUE(stamp.get_HasNonce());
  EXPECT_STREQ(stamp.get_PolicyID(), "1.2.3.4.5");

  // The same request without a nonce: OpenSSL says so, and the stamp has none either.
  request.put_UseNonce(false);
  request.put_PolicyID("");
  const std::vector<unsigned char> bare = Answer(request, "nononce", &text);
  EXPECT_NE(text.find("Nonce: unspecified"), std::string::npos) << text;
  CStamp plain;
  EXPECT_EQ(Import(plain, bare, &request), P::S_OK);
  EXPECT_FALSE(plain.get_HasNonce());

  // SHA-1, which this responder does not accept: a refusal is no failure of Import.
  CRequest sha1;
  sha1.put_DataHashAlg(0x8004u);
  sha1.AddData(reinterpret_cast<const unsigned char*>(data.data()), 1);
  CStamp refused;
  EXPECT_EQ(Import(refused, Answer(sha1, "sha1"), &sha1), P::S_OK);
  EXPECT_EQ(refused.get_Status(), 2u);
}

TEST_F(RequestInteropTest, StampForAnotherRequestFailsTheChecks) {
  CRequest request;
  request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
  std::vector<unsigned char> hash(32, 0x11);
  request.put_DataHash(hash.data(), 32);
  const std::vector<unsigned char> reply = Answer(request, "mine");

  // Another nonce: the request rebuilt after a change draws a new one.
  CRequest renewed(request);
  renewed.put_CertReq(true);
  Exported(renewed);
  CStamp stamp;
  EXPECT_EQ(Import(stamp, reply, &renewed), Velmora::Support::HORODEX_E_NONCE_MISMATCH);
  EXPECT_THROW(stamp.get_Time(), P::CAtlException);  // not imported

  // Nonce on one side only.
  CRequest withoutNonce(request);
  withoutNonce.put_UseNonce(false);
  Exported(withoutNonce);
  EXPECT_EQ(Import(stamp, reply, &withoutNonce), Velmora::Support::HORODEX_E_NONCE_MISMATCH);

  // Another hash; the hash is compared before the nonce.
  CRequest otherHash(request);
  hash[0] ^= 1;
  otherHash.put_DataHash(hash.data(), 32);
  Exported(otherHash);
  EXPECT_EQ(Import(stamp, reply, &otherHash), P::CRYPT_E_HASH_VALUE);

  // A copy of the request carries its hash and nonce and so passes; a null request skips both.
  CRequest sameBytes(request);
  EXPECT_EQ(Import(stamp, reply, &sameBytes), P::S_OK);
  EXPECT_EQ(Import(stamp, reply, nullptr), P::S_OK);
  EXPECT_EQ(Import(stamp, reply, &otherHash), P::CRYPT_E_HASH_VALUE);
}

}  // namespace
