// The HTTP client's handles and queries against horodex-testtsa: handle kinds, reading a body
// in pieces, the offered schemes of a challenge, option and argument checks, and handles
// closed in any order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base/free_with.h"
#include "platform/errors/last_error.h"
#include "platform/http/winhttp.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Platform {
namespace {

using Handle = std::unique_ptr<HttpObject, FreeWith<WinHttpCloseHandle>>;

class HttpClientTest : public Testing::TestTsaSuite {
 protected:
  void SetUp() override {
    session.reset(WinHttpOpen(L"client-test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    ASSERT_TRUE(session);
    ASSERT_TRUE(WinHttpSetTimeouts(session.get(), 0, 2000, 2000, 2000));
    connection.reset(
        WinHttpConnect(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(tsa->port()), 0));
    ASSERT_TRUE(connection);
  }
  Handle Open(const wchar_t* object) {
    return Handle(
        WinHttpOpenRequest(connection.get(), L"POST", object, nullptr, nullptr, nullptr, 0));
  }
  static bool Send(HINTERNET request, const std::string& body = "query") {
    return WinHttpSendRequest(request, nullptr, 0, body.data(), static_cast<DWORD>(body.size()),
                              static_cast<DWORD>(body.size()), 0) &&
           WinHttpReceiveResponse(request, nullptr);
  }
  static DWORD Status(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    EXPECT_TRUE(WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    nullptr, &status, &size, nullptr));
    return status;
  }

  Handle session;
  Handle connection;
};

TEST_F(HttpClientTest, OfferedSchemesOfAChallenge) {
  Handle request = Open(L"offer/Negotiate+NTLM+Basic/");
  ASSERT_TRUE(Send(request.get()));
  EXPECT_EQ(Status(request.get()), 401u);
  DWORD supported = 0;
  DWORD first = 0;
  DWORD target = 99;
  ASSERT_TRUE(WinHttpQueryAuthSchemes(request.get(), &supported, &first, &target));
  EXPECT_EQ(supported,
            WINHTTP_AUTH_SCHEME_NEGOTIATE | WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_BASIC);
  EXPECT_EQ(first, WINHTTP_AUTH_SCHEME_NEGOTIATE);
  EXPECT_EQ(target, WINHTTP_AUTH_TARGET_SERVER);

  // Digest's parameters, quoted commas included, are not taken for schemes.
  request = Open(L"digest/");
  ASSERT_TRUE(Send(request.get()));
  ASSERT_TRUE(WinHttpQueryAuthSchemes(request.get(), &supported, &first, &target));
  EXPECT_EQ(supported, WINHTTP_AUTH_SCHEME_DIGEST);

  // Only unknown schemes, or no challenge at all: ERROR_INVALID_OPERATION.
  request = Open(L"offer/Bearer/");
  ASSERT_TRUE(Send(request.get()));
  EXPECT_FALSE(WinHttpQueryAuthSchemes(request.get(), &supported, &first, &target));
  EXPECT_EQ(GetLastError(), 4317u);
  request = Open(L"status/200/");
  ASSERT_TRUE(Send(request.get()));
  EXPECT_FALSE(WinHttpQueryAuthSchemes(request.get(), &supported, &first, &target));
  EXPECT_EQ(GetLastError(), 4317u);
}

TEST_F(HttpClientTest, QueriesBeforeOrWithoutAReplyFailWithTheReason) {
  Handle request = Open(L"tsp");
  DWORD status = 0;
  DWORD size = sizeof status;
  EXPECT_FALSE(WinHttpReceiveResponse(request.get(), nullptr));
  EXPECT_EQ(GetLastError(), 12019u);
  EXPECT_FALSE(WinHttpQueryHeaders(request.get(),
                                   WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                                   &status, &size, nullptr));
  EXPECT_EQ(GetLastError(), 12019u);

  // The send failed: the status query says why.
  Handle silent = Open(L"reset/");
  EXPECT_FALSE(Send(silent.get()));
  EXPECT_EQ(GetLastError(), 12030u);
  EXPECT_FALSE(WinHttpQueryHeaders(silent.get(),
                                   WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                                   &status, &size, nullptr));
  EXPECT_EQ(GetLastError(), 12030u);

  // A buffer too small for the number.
  ASSERT_TRUE(Send(request.get()));
  size = 2;
  EXPECT_FALSE(WinHttpQueryHeaders(request.get(),
                                   WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                                   &status, &size, nullptr));
  EXPECT_EQ(GetLastError(), 122u);
  EXPECT_EQ(size, 4u);
}

TEST_F(HttpClientTest, ArgumentsAndHandleKindsAreChecked) {
  Handle request = Open(L"tsp");
  const DWORD high = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  const DWORD tooHigh = 3;
  EXPECT_TRUE(WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &high, sizeof high));
  EXPECT_FALSE(
      WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &tooHigh, sizeof tooHigh));
  EXPECT_EQ(GetLastError(), 87u);
  // Session options on a request and request options on a session.
  EXPECT_FALSE(
      WinHttpSetOption(session.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &high, sizeof high));
  EXPECT_EQ(GetLastError(), 12018u);
  EXPECT_FALSE(WinHttpSetOption(request.get(), 12345, &high, sizeof high));
  EXPECT_EQ(GetLastError(), 12009u);
  EXPECT_FALSE(WinHttpSetCredentials(request.get(), WINHTTP_AUTH_TARGET_SERVER,
                                     WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_DIGEST, L"u",
                                     L"p", nullptr));
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_FALSE(
      WinHttpSetCredentials(request.get(), 2, WINHTTP_AUTH_SCHEME_BASIC, L"u", L"p", nullptr));
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_FALSE(WinHttpConnect(request.get(), L"127.0.0.1", 80, 0));
  EXPECT_EQ(GetLastError(), 12018u);
  EXPECT_FALSE(WinHttpConnect(session.get(), L"bad/host", 80, 0));
  EXPECT_EQ(GetLastError(), 12005u);
  EXPECT_FALSE(Open(L"a b"));
  EXPECT_EQ(GetLastError(), 12005u);
  EXPECT_FALSE(WinHttpCloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), 6u);
  // A body length that disagrees with the total, and headers that would split the request.
  const std::string body = "abc";
  EXPECT_FALSE(WinHttpSendRequest(request.get(), nullptr, 0, body.data(), 3, 4, 0));
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_FALSE(WinHttpSendRequest(request.get(), L"X-A: 1\rX-B: 2", static_cast<DWORD>(-1),
                                  body.data(), 3, 3, 0));
  EXPECT_EQ(GetLastError(), 12153u);
  // A bad proxy list is refused when set.
  const WINHTTP_PROXY_INFO bad{WINHTTP_ACCESS_TYPE_NAMED_PROXY, L"http=proxy:3128/path", nullptr};
  EXPECT_FALSE(WinHttpSetOption(session.get(), WINHTTP_OPTION_PROXY, &bad, sizeof bad));
  EXPECT_EQ(GetLastError(), 12005u);
  // Only synchronous sessions without automatic proxy.
  EXPECT_FALSE(WinHttpOpen(L"x", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), 87u);
}

}  // namespace
}  // namespace Velmora::Platform
