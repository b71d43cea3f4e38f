// SendRequest when things go wrong below HTTP: URLs that cannot be used, servers that never
// answer, reset, truncate, trickle or flood, bytes that are not HTTP, TLS peers we must not
// trust or that want a client certificate. Each ends with its WinHTTP number within the
// time-outs, and the same settings object serves the next exchange.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Testing {
namespace {

using namespace std::chrono_literals;
using PKI::CHttpSettings;
using PKI::SendRequest;

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// After a failure the same settings reach `tsa` again and get a response.
void ExpectUsableAfterwards(CHttpSettings& settings, const TestTsaProcess& tsa) {
  settings.url = tsa.WideUrl("/after-failure");
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);
}

class SendRequestFailureTest : public TestTsaSuite {
 protected:
  void SetUp() override { ClearProxyEnvironment(); }
};

TEST_F(SendRequestFailureTest, UrlsThatCannotBeUsedFailBeforeAnythingIsSent) {
  const std::string port = std::to_string(tsa->port());
  const struct {
    std::wstring url;
    unsigned code;
  } cases[] = {
      {L"", 12006},
      {L"127.0.0.1:" + Wide(port) + L"/tsp", 12006},  // no scheme
      {L"ftp://127.0.0.1:" + Wide(port) + L"/", 12006},
      {L"file:///etc/passwd", 12006},
      {L"http://", 12005},
      {L"http://:" + Wide(port) + L"/", 12005},
      {L"http://127.0.0.1:0/", 12005},
      {L"http://127.0.0.1:65536/", 12005},
      {L"http://127.0.0.1:8x/", 12005},
      {L"http://[::1/", 12005},
      {L"http://a b/", 12005},
      // A line break must never reach the request line.
      {L"http://127.0.0.1:" + Wide(port) + L"/x\r\nX-Injected: 1", 12005},
  };
  const std::size_t before = tsa->Requests().size();
  CHttpSettings settings = FastSettings(L"");
  for (const auto& bad : cases) {
    settings.url = bad.url;
    EXPECT_EQ(PostCode(settings), WinHttpHResult(bad.code))
        << std::string(bad.url.begin(), bad.url.end());
    EXPECT_EQ(settings.httpStatus, 0u);
  }
  EXPECT_EQ(tsa->Requests().size(), before);
  ExpectUsableAfterwards(settings, *tsa);
}

TEST_F(SendRequestFailureTest, FailuresBelowHttpEndWithTheirNumberWithinTheTimeouts) {
  // Servers that stall are bounded by the time-outs (1 s each here); the others end the
  // exchange by themselves, well within theirs.
  const struct {
    const char* path;
    unsigned code;
    int timeoutMs;
  } cases[] = {
      {"/silent/", 12002, 1000},        // never answers: the receive time-out
      {"/trickle/", 12002, 1000},       // a byte now and then, for ever: the whole-exchange bound
      {"/reset/", 12030, 5000},         // connection reset after the request
      {"/close/", 12030, 5000},         // closed without a reply
      {"/truncate/", 12030, 5000},      // fewer bytes than announced
      {"/raw-garbage/", 12152, 5000},   // bytes that are not HTTP
      {"/endless/", 12184, 5000},       // a body without end, refused at 64 MiB
      {"/big/70000000/", 12184, 5000},  // a body announced beyond 64 MiB
  };
  CHttpSettings settings = FastSettings(L"");
  for (const auto& bad : cases) {
    settings.timeouts = {bad.timeoutMs, bad.timeoutMs, bad.timeoutMs};
    settings.url = tsa->WideUrl(bad.path);
    Platform::HRESULT thrown = 0;
    const auto took = Timed([&] { thrown = PostCode(settings); });
    EXPECT_EQ(thrown, WinHttpHResult(bad.code)) << bad.path;
    EXPECT_EQ(settings.httpStatus, 0u) << bad.path;
    EXPECT_LT(took, std::chrono::milliseconds(3 * bad.timeoutMs + 1500)) << bad.path;
    ExpectUsableAfterwards(settings, *tsa);
  }
}

TEST_F(SendRequestFailureTest, UnreachableServersAndBadHeaders) {
  CHttpSettings settings = FastSettings(L"");
  // Nothing listens there: cannot connect.
  const int closed = FreeLoopbackPort();
  settings.url = L"http://127.0.0.1:" + Wide(std::to_string(closed)) + L"/";
  EXPECT_EQ(PostCode(settings), WinHttpHResult(12029));
  // A label longer than DNS allows is refused by the resolver itself, so nothing leaves the
  // machine: the name is not resolved.
  settings.url = L"http://" + std::wstring(70, L'a') + L".test/";
  EXPECT_EQ(PostCode(settings), WinHttpHResult(12007));
  // A header line without a name.
  settings.url = tsa->WideUrl("/tsp");
  EXPECT_EQ(ThrownBy([&] { SendRequest(settings, L"no colon here", TimeStampQuery(), false); }),
            WinHttpHResult(12153));
  ExpectUsableAfterwards(settings, *tsa);
}

class SendRequestTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TestTsaOptions options;
    options.tls = true;
    https = std::make_unique<TestTsaProcess>(options);
    options.requireClientCert = true;
    mutual = std::make_unique<TestTsaProcess>(options);
  }
  static void TearDownTestSuite() {
    https.reset();
    mutual.reset();
  }
  void SetUp() override { ClearProxyEnvironment(); }

  static inline std::unique_ptr<TestTsaProcess> https;
  static inline std::unique_ptr<TestTsaProcess> mutual;
};

TEST_F(SendRequestTlsTest, ServerCertificatesAreAlwaysVerified) {
  CHttpSettings settings = FastSettings(https->WideUrl("/tls"));
  // The test CA is in no system store: refused.
  EXPECT_EQ(PostCode(settings), WinHttpHResult(12175));
  // A CA that did not sign the server's certificate changes nothing.
  settings.extraCaFile = https->File("stranger-ca.pem").wstring();
  EXPECT_EQ(PostCode(settings), WinHttpHResult(12175));
  // Its own CA, added explicitly: the exchange goes through, by address and by name.
  settings.extraCaFile = https->File("ca.pem").wstring();
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);
  settings.url = L"https://localhost:" + Wide(std::to_string(https->port())) + L"/tls";
  EXPECT_FALSE(Post(settings).empty());
  // A CA file that is not there.
  settings.extraCaFile = L"/nonexistent/ca.pem";
  EXPECT_EQ(PostCode(settings), WinHttpHResult(2));
}

TEST_F(SendRequestTlsTest, ClientCertificateTheServerRequires) {
  CHttpSettings settings = FastSettings(mutual->WideUrl("/mutual"));
  settings.extraCaFile = mutual->File("ca.pem").wstring();
  // None given: the server's demand is reported as such.
  EXPECT_EQ(PostCode(settings), WinHttpHResult(12044));

  const std::vector<unsigned char> der = ReadFileBytes(mutual->File("client.der"));
  const CertContext cert = ContextOf(der, mutual->File("client.key").wstring());
  settings.clientCert = cert.get();
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);

  // A key that is not the certificate's, or no key at all, is refused before any connection.
  const CertContext mismatched = ContextOf(der, mutual->File("stranger-client.key").wstring());
  const CertContext keyless = ContextOf(der, L"");
  for (const Platform::PCCERT_CONTEXT unusable : {mismatched.get(), keyless.get()}) {
    settings.clientCert = unusable;
    EXPECT_EQ(PostCode(settings), WinHttpHResult(12185));
  }

  // A certificate under a CA the server does not trust: the server refuses the channel.
  const std::vector<CBlob> strangerPem = PemCertificates(mutual->File("stranger-client.pem"));
  ASSERT_EQ(strangerPem.size(), 1u);
  const CertContext stranger =
      ContextOf(strangerPem[0].bytes(), mutual->File("stranger-client.key").wstring());
  settings.clientCert = stranger.get();
  EXPECT_EQ(PostCode(settings), WinHttpHResult(12175));

  // The right certificate again on the same settings: still fine. A server that does not ask
  // for one takes the exchange all the same.
  settings.clientCert = cert.get();
  ExpectUsableAfterwards(settings, *mutual);
  settings.extraCaFile = https->File("ca.pem").wstring();
  ExpectUsableAfterwards(settings, *https);
}

}  // namespace
}  // namespace Velmora::Testing
