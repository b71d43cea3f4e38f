// Our requests in OpenSSL's hands: its responder answers them, and the stamp it makes passes the
// checks against our request, while one made for another hash or nonce fails them with the right
// code. (That OpenSSL reads what the codec writes is tests/codec/stampmsg_openssl_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "support/errors.h"
#include "tests/common/der_build.h"
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

  // Writes the request and has OpenSSL's responder answer it; returns the response's bytes.
  std::vector<unsigned char> Answer(CRequest& request, const std::string& name) {
    const auto query = dir / (name + ".tsq");
    const auto reply = dir / (name + ".tsr");
    T::WriteFileBytes(query, Exported(request));
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
    return T::DerBuild::CodeOf(
        [&] { stamp.Import(reply.data(), static_cast<unsigned long>(reply.size()), request); });
  }
};

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
