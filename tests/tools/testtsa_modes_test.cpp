// horodex-testtsa itself, judged by OpenSSL: its granted responses verify under its CA and
// match the query, and each mode changes exactly what it says (rejection and failInfo, bare
// token, nonce, genTime); its CA's CRL and OCSP answers, which the TSA certificate names, are
// good for the TSA certificate. It binds to loopback only and stops with its input.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <openssl/x509_vfy.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Testing {
namespace {

using PKI::CHttpSettings;
using PKI::SendRequest;

struct Reply {
  TS_RESP* response = nullptr;
  ~Reply() { TS_RESP_free(response); }
  const TS_TST_INFO* info() const { return TS_RESP_get_tst_info(response); }
  long status() const {
    return ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response)));
  }
};

class TestTsaModesTest : public TestTsaSuite {
 protected:
  static CBlob Post(const std::string& path, const CBlob& query = TimeStampQuery()) {
    CHttpSettings settings = FastSettings(tsa->WideUrl(path));
    CBlob reply = SendRequest(settings, kQueryHeader, query, true);
    EXPECT_EQ(settings.httpStatus, 200u) << path;
    return reply;
  }
  static void Parse(const CBlob& der, Reply* reply) {
    const unsigned char* cursor = der.pbData();
    reply->response = d2i_TS_RESP(nullptr, &cursor, static_cast<long>(der.cbData()));
    ASSERT_NE(reply->response, nullptr);
  }
  // Seconds between the stamp's genTime and now.
  static double SecondsFromNow(const TS_TST_INFO* info) {
    int days = 0;
    int seconds = 0;
    ASN1_TIME* now = ASN1_TIME_set(nullptr, std::time(nullptr));
    ASN1_TIME_diff(&days, &seconds, now, TS_TST_INFO_get_time(info));
    ASN1_TIME_free(now);
    return days * 86400.0 + seconds;
  }
  static long NonceOf(const TS_TST_INFO* info) {
    const ASN1_INTEGER* nonce = TS_TST_INFO_get_nonce(info);
    return nonce == nullptr ? -1 : ASN1_INTEGER_get(nonce);
  }
};

TEST_F(TestTsaModesTest, GrantedResponsesVerifyUnderItsCaAndMatchTheQuery) {
  const CBlob query = TimeStampQuery(0x42);
  const CBlob der = Post("/", query);
  Reply reply;
  Parse(der, &reply);
  EXPECT_EQ(reply.status(), 0);

  const unsigned char* cursor = query.pbData();
  TS_REQ* request = d2i_TS_REQ(nullptr, &cursor, static_cast<long>(query.cbData()));
  ASSERT_NE(request, nullptr);
  TS_VERIFY_CTX* verify = TS_REQ_to_TS_VERIFY_CTX(request, nullptr);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_load_file(store, tsa->File("ca.pem").c_str()), 1);
  TS_VERIFY_CTX_set_store(verify, store);
  // The query asked for no certificates: the TSA's own is given as untrusted material.
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  for (const CBlob& cert : PemCertificates(tsa->File("tsa.pem"))) {
    const unsigned char* certCursor = cert.pbData();
    sk_X509_push(untrusted, d2i_X509(nullptr, &certCursor, static_cast<long>(cert.cbData())));
  }
  TS_VERIFY_CTX_set_certs(verify, untrusted);
  // The signer must be the certificate the response carries, chained to the CA, with the
  // critical timeStamping usage, and the imprint and nonce must be the query's.
  EXPECT_EQ(TS_RESP_verify_response(verify, reply.response), 1);
  TS_VERIFY_CTX_free(verify);
  TS_REQ_free(request);
  EXPECT_EQ(NonceOf(reply.info()), 0x0142);
  EXPECT_LT(std::abs(SecondsFromNow(reply.info())), 5.0);
}

TEST_F(TestTsaModesTest, ModesChangeExactlyWhatTheySay) {
  {
    Reply rejected;
    Parse(Post("/reject/unacceptedPolicy/"), &rejected);
    EXPECT_EQ(rejected.status(), 2);
    const ASN1_BIT_STRING* failInfo =
        TS_STATUS_INFO_get0_failure_info(TS_RESP_get_status_info(rejected.response));
    ASSERT_NE(failInfo, nullptr);
    EXPECT_EQ(ASN1_BIT_STRING_get_bit(failInfo, 15), 1);
    EXPECT_EQ(ASN1_BIT_STRING_get_bit(failInfo, 0), 0);
    EXPECT_EQ(TS_RESP_get_token(rejected.response), nullptr);
  }
  {
    Reply other;
    Parse(Post("/othernonce/", TimeStampQuery(0x10)), &other);
    EXPECT_EQ(NonceOf(other.info()), 0x0111);
    Reply none;
    Parse(Post("/nononce/"), &none);
    EXPECT_EQ(TS_TST_INFO_get_nonce(none.info()), nullptr);
    Reply early;
    Parse(Post("/offset/-240/"), &early);
    EXPECT_NEAR(SecondsFromNow(early.info()), -240.0, 5.0);
  }
  {
    // A bare token: a SignedData, not a TimeStampResp.
    const CBlob token = Post("/token/");
    const unsigned char* cursor = token.pbData();
    PKCS7* p7 = d2i_PKCS7(nullptr, &cursor, static_cast<long>(token.cbData()));
    ASSERT_NE(p7, nullptr);
    EXPECT_EQ(OBJ_obj2nid(p7->type), NID_pkcs7_signed);
    PKCS7_free(p7);
    cursor = token.pbData();
    TS_RESP* asResponse = d2i_TS_RESP(nullptr, &cursor, static_cast<long>(token.cbData()));
    EXPECT_EQ(asResponse, nullptr);
    TS_RESP_free(asResponse);
  }
  {
    // An unreadable query gets OpenSSL's own rejection, badDataFormat.
    Reply refused;
    Parse(Post("/", CBlob(std::vector<unsigned char>{0x30, 0x00})), &refused);
    EXPECT_EQ(refused.status(), 2);
  }
}

TEST_F(TestTsaModesTest, ItsCaCallsTheTsaCertificateGoodByCrlAndOcsp) {
  const std::string ca = ShellQuote(tsa->File("ca.pem").string());
  const std::string cert = ShellQuote(tsa->File("tsa.pem").string());
  const std::size_t logged = tsa->Requests().size();
  // OpenSSL fetches each from the URL the TSA certificate names (the server's real port) and
  // checks the CA's signature.
  const struct {
    std::string command;
    std::vector<std::string> expected;
  } kChecks[] = {
      {"openssl verify -crl_download -crl_check -CAfile " + ca + " " + cert, {"tsa.pem: OK"}},
      {"openssl ocsp -issuer " + ca + " -cert " + cert + " -url \"$(openssl x509 -noout " +
           "-ocsp_uri -in " + cert + ")\" -CAfile " + ca,
       {"Response verify OK", "tsa.pem: good"}},
  };
  for (const auto& check : kChecks) {
    const CommandResult result = RunCommand(check.command + " 2>&1");
    EXPECT_EQ(result.exitCode, 0) << check.command << "\n" << result.output;
    for (const std::string& text : check.expected) {
      EXPECT_TRUE(Has(result, text)) << text << "\n" << result.output;
    }
  }
  // Revocation traffic stays out of the log that tests count time-stamp requests in.
  EXPECT_EQ(tsa->Requests().size(), logged);
}

TEST_F(TestTsaModesTest, ClockOffsetOptionMovesEveryGenTime) {
  TestTsaOptions options;
  options.clockOffsetSeconds = 3600;
  TestTsaProcess late(options);
  CHttpSettings settings = FastSettings(late.WideUrl("/offset/60/"));
  const CBlob der = SendRequest(settings, kQueryHeader, TimeStampQuery(), true);
  Reply reply;
  Parse(der, &reply);
  EXPECT_NEAR(SecondsFromNow(reply.info()), 3660.0, 5.0);
}

TEST(TestTsaProcessTest, BindsToLoopbackOnlyAndStopsWithItsInput) {
  TempDir dir;
  for (const char* address : {"0.0.0.0", "192.0.2.1", "::", "localhost"}) {
    const CommandResult refused =
        RunCommand(ShellQuote(TestTsaProgram()) + " --bind " + address + " </dev/null 2>&1");
    EXPECT_NE(refused.exitCode, 0) << address;
    EXPECT_TRUE(Has(refused, "loopback")) << refused.output;
  }
  EXPECT_NE(RunCommand(ShellQuote(TestTsaProgram()) + " --no-such-option 2>&1").exitCode, 0);

  ChildProcess child(TestTsaProgram(), {"--watch-stdin"});
  EXPECT_GT(std::stoi(child.FirstLine(std::chrono::seconds(10))), 0);
  EXPECT_TRUE(child.Running());
  child.CloseInput();
  for (int i = 0; i < 100 && child.Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(child.Running());
}

}  // namespace
}  // namespace Velmora::Testing
