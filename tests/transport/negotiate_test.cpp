// Negotiate against a real Kerberos realm (Debian's MIT KDC, one realm for this program): the
// test TSA and the test proxy check alice's tickets with their service keys. The logged-on
// user's ticket goes to a server or proxy that asks for Negotiate at the LOW automatic-logon
// level only (the exchange lowers it for Negotiate without a user name), and refusals end as 401
// or 407, which CRequest::Send and GetMSStamp report as 0xC2100100.
#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <tuple>

#include "horodex/MSTimeStamp.h"
#include "horodex/TSPRequest.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"
#include "tests/common/hive_env.h"
#include "tests/common/kdc_process.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"
#include "transport/send_request_parts.h"

namespace Velmora::Testing {
namespace {

using namespace Platform;
using PKI::CHttpSettings;
using PKI::Transport::InternetHandle;
using PKI::TSP::Client::CRequest;

class NegotiateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!KdcProcess::Available()) {
      return;
    }
    kdc = std::make_unique<KdcProcess>();
    kdc->LogOn();
    TestTsaOptions options;
    options.extraArguments = {"--keytab", kdc->Keytab().string()};
    tsa = std::make_unique<TestTsaProcess>(options);
    options.tls = true;
    https = std::make_unique<TestTsaProcess>(options);
    options.tls = false;
    options.extraArguments.emplace_back("--proxy");
    proxy = std::make_unique<TestTsaProcess>(options);
  }
  void SetUp() override {
    if (!kdc) {
      GTEST_SKIP() << "no Kerberos KDC (scripts/setup installs krb5-kdc, krb5-admin-server and "
                      "krb5-user)";
    }
    ClearProxyEnvironment();
    kdc->LogOn();
  }

  static std::string ProxyUrl() { return "http://127.0.0.1:" + std::to_string(proxy->port()); }

  // What each request to `path` logged by `server` carried in `field`: "-" nothing, "N" a
  // Negotiate token.
  static std::string Sent(const TestTsaProcess& server, const std::string& path,
                          const char* field = "authorization") {
    std::string sent;
    for (const LoggedRequest& request : server.RequestsTo(path)) {
      sent += request.at(field) == "-" ? '-' : request.at(field).rfind("Negotiate ", 0) ? '?' : 'N';
    }
    return sent;
  }

  static inline std::unique_ptr<KdcProcess> kdc;
  static inline std::unique_ptr<TestTsaProcess> tsa;
  static inline std::unique_ptr<TestTsaProcess> https;
  static inline std::unique_ptr<TestTsaProcess> proxy;
};

TEST_F(NegotiateTest, OneSendOfThePlatformsRequestAtEachAutomaticLogonLevel) {
  // At LOW the request answers the server's challenge within the one send; MEDIUM is HIGH here.
  const InternetHandle session(
      WinHttpOpen(L"t", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  const InternetHandle connection(
      WinHttpConnect(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(tsa->port()), 0));
  const CBlob query = TimeStampQuery();
  const auto length = static_cast<DWORD>(query.cbData());
  for (const auto& [level, object, status, sent] :
       {std::tuple{WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH, L"/negotiate/high", 401u, "-"},
        std::tuple{WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM, L"/negotiate/medium", 401u, "-"},
        std::tuple{WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW, L"/negotiate/low", 200u, "-N"}}) {
    const InternetHandle request(
        WinHttpOpenRequest(connection.get(), L"POST", object, nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(
        WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &level, sizeof level));
    ASSERT_TRUE(WinHttpSendRequest(request.get(), kQueryHeader, static_cast<DWORD>(-1),
                                   query.pbData(), length, length, 0));
    DWORD got = 0;
    DWORD size = sizeof got;
    ASSERT_TRUE(WinHttpQueryHeaders(request.get(),
                                    WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                                    &got, &size, nullptr));
    EXPECT_EQ(got, status) << level;
    EXPECT_EQ(Sent(*tsa, std::string(object, object + std::wcslen(object))), sent) << level;
  }
}

TEST_F(NegotiateTest, ProxyScriptServerGetsTheTicketOnlyOnceItAsks) {
  const InternetHandle session(
      WinHttpOpen(L"t", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  for (const auto& [path, sent] : {std::pair{"/negotiate/wpad.dat", "-N"}, {"/wpad.dat", "-"}}) {
    const std::wstring url = tsa->WideUrl(path);
    WINHTTP_AUTOPROXY_OPTIONS options{
        WINHTTP_AUTOPROXY_CONFIG_URL, 0, url.c_str(), nullptr, 0, TRUE};
    WINHTTP_PROXY_INFO_RESULT found{};
    // The test TSA answers a GET with 405 once it let it in: no script.
    EXPECT_FALSE(WinHttpGetProxyForUrl(session.get(), L"http://tsa.example", &options, &found));
    EXPECT_EQ(Sent(*tsa, path), sent);
  }
}

TEST_F(NegotiateTest, SendRequestOffersTheUsersTicketOnlyForNegotiateWithoutUserName) {
  struct Case {
    const char* path;
    DWORD serverScheme;
    DWORD proxyScheme;
    bool viaProxy;
    bool loggedOn;
    DWORD status;
    const char* atTsa;    // see Sent
    const char* atProxy;  // the same, of Proxy-Authorization at the proxy
  };
  const Case cases[] = {
      // The challenge lowers the logon level: the ticket goes with the second send.
      {"/negotiate/auto", 16, 0, false, true, 200, "-N", ""},
      // Scheme Anonym keeps the high level: the ticket is never sent on its own.
      {"/negotiate/anonym", 0, 0, false, true, 401, "-", ""},
      {"/offer/NTLM/unoffered", 16, 0, false, true, 401, "-", ""},
      // A user without tickets has nothing to offer: the challenge repeats and ends it.
      {"/negotiate/logged-off", 16, 0, false, false, 401, "--", ""},
      // The same for the proxy's 407; the TSA behind it, which does not ask, gets nothing.
      {"/via/auto", 0, 16, true, true, 200, "-", "-N"},
      {"/via/anonym", 0, 0, true, true, 407, "", "-"},
      {"/via/logged-off", 0, 16, true, false, 407, "", "--"},
      // Both ask: the proxy first, then the TSA behind it (over TLS through the proxy's tunnel).
      {"/negotiate/via/both", 16, 16, true, true, 200, "-N", "-NN"},
      {"/negotiate/tunnel", 16, 16, true, true, 200, "-N", "-N"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const bool tunnel = std::string(c.path) == "/negotiate/tunnel";
    const TestTsaProcess& server = tunnel ? *https : *tsa;
    kdc->LogOn(c.loggedOn);
    CHttpSettings settings = FastSettings(server.WideUrl(c.path));
    settings.extraCaFile = https->File("ca.pem").wstring();
    settings.serverAuthScheme = c.serverScheme;
    settings.proxyAuthScheme = c.proxyScheme;
    settings.proxy = c.viaProxy ? NarrowToWide(ProxyUrl()) : L"";
    const CBlob reply = SendRequest(settings, kQueryHeader, TimeStampQuery(), true);
    EXPECT_EQ(settings.httpStatus, c.status);
    EXPECT_EQ(reply.empty(), c.status != 200);
    EXPECT_EQ(Sent(server, c.path), c.atTsa);
    const std::string proxied = tunnel ? "127.0.0.1:" + std::to_string(https->port()) : c.path;
    EXPECT_EQ(Sent(*proxy, proxied, "proxy-authorization"), c.atProxy);
  }
}

TEST_F(NegotiateTest, NamedUserGoesWithATicketOfItsOwnOrWithNothing) {
  // Whoever is logged on: the named user's ticket from the KDC, and nothing when it refuses.
  for (const auto& [path, proxied, loggedOn, password, status, sent] :
       {std::tuple{"/negotiate/named", false, false, L"alice-pass", 200u, "-N"},
        std::tuple{"/negotiate/named-wrong", false, true, L"wrong", 401u, "--"},
        std::tuple{"/via/named", true, false, L"alice-pass", 200u, "-N"},
        std::tuple{"/via/named-wrong", true, true, L"wrong", 407u, "--"}}) {
    SCOPED_TRACE(path);
    kdc->LogOn(loggedOn);
    CHttpSettings settings = FastSettings(tsa->WideUrl(path));
    (proxied ? settings.proxyAuthScheme : settings.serverAuthScheme) = 16;
    (proxied ? settings.proxyUserName : settings.serverUserName) = L"alice";
    (proxied ? settings.proxyPassword : settings.serverPassword) = password;
    settings.proxy = proxied ? NarrowToWide(ProxyUrl()) : L"";
    SendRequest(settings, kQueryHeader, TimeStampQuery(), true);
    EXPECT_EQ(settings.httpStatus, status);
    EXPECT_EQ(proxied ? Sent(*proxy, path, "proxy-authorization") : Sent(*tsa, path), sent);
  }
}

TEST_F(NegotiateTest, RequestSendAndMsStampGetTheirStampsOrTheHttpError) {
  const ConfigEnvironment env;
  CRequest request;
  request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
  request.AddData(reinterpret_cast<const unsigned char*>("data"), 4);
  const auto sendTo = [&](const char* path, CRequest::enumAuthTypes tsaType,
                          CRequest::enumAuthTypes proxyType) -> HRESULT {
    request.put_TSAAddress(tsa->WideUrl(path).c_str());
    request.put_TSAAuthType(tsaType);
    request.put_ProxyAuthType(proxyType);
    try {
      return request.Send(false).get_Status() == 0 ? S_OK : E_FAIL;
    } catch (const CAtlException& failure) {
      return failure.hr();
    }
  };
  constexpr HRESULT kHttpError = MakeHResult(0xC2100100);
  EXPECT_EQ(sendTo("/negotiate/send", CRequest::Negotiate, CRequest::Anonym), S_OK);
  EXPECT_EQ(sendTo("/negotiate/send", CRequest::Anonym, CRequest::Anonym), kHttpError);
  EXPECT_EQ(request.get_HTTPStatus(), 401u);
  request.put_ProxyAddress(NarrowToWide(ProxyUrl()).c_str());
  EXPECT_EQ(sendTo("/send/proxied", CRequest::Anonym, CRequest::Negotiate), S_OK);
  EXPECT_EQ(sendTo("/send/proxied", CRequest::Anonym, CRequest::Anonym), kHttpError);
  EXPECT_EQ(request.get_HTTPStatus(), 407u);

  // GetMSStamp finds the proxy in the environment and retries its 407 with Negotiate: the first
  // exchange ends at the challenge, the retry is challenged again and answers.
  setenv("http_proxy", ProxyUrl().c_str(), 1);
  char content[] = "content";
  CRYPT_DATA_BLOB blob{7, reinterpret_cast<BYTE*>(content)};
  CRYPT_DATA_BLOB* stamp = GetMSStamp(&blob, tsa->WideUrl("/authenticode/").c_str(), nullptr);
  EXPECT_NE(stamp, nullptr) << GetLastError();
  FreeMSStamp(stamp);
  EXPECT_EQ(Sent(*proxy, "/authenticode/", "proxy-authorization"), "--N");
  // A proxy that goes on refusing: null, and the HTTP error.
  kdc->LogOn(false);
  EXPECT_EQ(GetMSStamp(&blob, tsa->WideUrl("/authenticode/refused").c_str(), nullptr), nullptr);
  EXPECT_EQ(GetLastError(), 0xC2100100u);
}

}  // namespace
}  // namespace Velmora::Testing
