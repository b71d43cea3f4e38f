// SendRequest against horodex-testtsa: what goes on the wire (object name, headers, user
// agent), what comes back (status, whole bodies, empty bodies), credentials from the URL, and
// the counting of sends while challenges are answered, NTLM included (Negotiate: negotiate_test).
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Testing {
namespace {

using PKI::CHttpSettings;
using PKI::SendRequest;

class SendRequestTest : public TestTsaSuite {
 protected:
  void SetUp() override { ClearProxyEnvironment(); }
};

TEST_F(SendRequestTest, RepliesAreReturnedWholeWhateverTheirSize) {
  // Bodies around and well beyond the 64 KiB read size, and the body echoed byte for byte.
  CHttpSettings settings = FastSettings(tsa->WideUrl("/big/65536/"));
  for (const unsigned long size : {65535ul, 65536ul, 65537ul, 1000000ul}) {
    settings.url = tsa->WideUrl("/big/" + std::to_string(size) + "/");
    const CBlob reply = Post(settings);
    ASSERT_EQ(reply.cbData(), size);
    for (unsigned long i = 0; i < size; i += 4099) {
      ASSERT_EQ(reply.pbData()[i], static_cast<unsigned char>((i * 131 + 7) & 0xFF)) << i;
    }
    EXPECT_EQ(reply.pbData()[size - 1], static_cast<unsigned char>(((size - 1) * 131 + 7) & 0xFF));
  }
  CBlob body(100000);
  for (unsigned long i = 0; i < body.cbData(); ++i) {
    body.pbData()[i] = static_cast<unsigned char>(i % 251);
  }
  settings.url = tsa->WideUrl("/echo/");
  EXPECT_EQ(Post(settings, body), body);
  EXPECT_TRUE(SendRequest(settings, kQueryHeader, CBlob(), false).empty());
}

TEST_F(SendRequestTest, CredentialsInTheUrlServeOnlyWhenTheSettingsHaveNone) {
  const std::string authority = "127.0.0.1:" + std::to_string(tsa->port());
  CHttpSettings settings =
      FastSettings(L"http://tsa-user:tsa-pass@" + std::wstring(authority.begin(), authority.end()) +
                   L"/basic/url-creds");
  settings.serverAuthScheme = 1;
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 200u);
  // The working copy took them; the caller's settings are unchanged.
  EXPECT_TRUE(settings.serverUserName.empty());

  // With a user name in the settings, the URL's are ignored both ways.
  settings.serverUserName = L"tsa-user";
  settings.serverPassword = L"wrong";
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 401u);
  settings.url = L"http://nobody:nothing@" + std::wstring(authority.begin(), authority.end()) +
                 L"/basic/url-creds";
  settings.serverPassword = L"tsa-pass";
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 200u);
}

TEST_F(SendRequestTest, ChallengesAreAnsweredWithTheExactNumberOfSends) {
  // No scheme of ours offered: one send, 401.
  CHttpSettings settings = FastSettings(tsa->WideUrl("/basic/count-a"));
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 401u);
  EXPECT_EQ(tsa->RequestsTo("/basic/count-a").size(), 1u);

  // Basic offered but the password refused: the second 401 ends it after two sends.
  settings.url = tsa->WideUrl("/basic/count-b");
  settings.serverAuthScheme = 1;
  settings.serverUserName = L"tsa-user";
  settings.serverPassword = L"wrong";
  EXPECT_TRUE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 401u);
  auto requests = tsa->RequestsTo("/basic/count-b");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].at("authorization"), "-");
  EXPECT_EQ(requests[1].at("authorization").substr(0, 6), "Basic ");

  // The right password: two sends, 200 and the response.
  settings.url = tsa->WideUrl("/basic/count-c");
  settings.serverPassword = L"tsa-pass";
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);
  EXPECT_EQ(tsa->RequestsTo("/basic/count-c").size(), 2u);

  // A Basic scheme where the server offers only Digest: one send.
  settings.url = tsa->WideUrl("/digest/count-d");
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 401u);
  EXPECT_EQ(tsa->RequestsTo("/digest/count-d").size(), 1u);

  // Digest answers the nonce of the first challenge at once: two sends.
  settings.serverAuthScheme = 8;
  settings.url = tsa->WideUrl("/digest/count-e");
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);
  requests = tsa->RequestsTo("/digest/count-e");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].at("authorization").substr(0, 7), "Digest ");
}

TEST_F(SendRequestTest, NtlmUsesTheGivenCredentialsInAFullHandshake) {
  // The server checks the NTLMv2 answer against the password.
  CHttpSettings settings = FastSettings(tsa->WideUrl("/ntlm/given"));
  settings.serverAuthScheme = 2;
  settings.serverUserName = L"tsa-user";
  settings.serverPassword = L"tsa-pass";
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);
  auto requests = tsa->RequestsTo("/ntlm/given");
  // The unauthenticated send, then the negotiate and authenticate legs on one connection.
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].at("authorization"), "-");
  EXPECT_EQ(requests[1].at("authorization").substr(0, 5), "NTLM ");
  EXPECT_EQ(requests[2].at("authorization").substr(0, 5), "NTLM ");
  EXPECT_EQ(requests[1].at("conn"), requests[2].at("conn"));

  settings.url = tsa->WideUrl("/ntlm/refused");
  settings.serverPassword = L"wrong";
  EXPECT_TRUE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 401u);
}

TEST_F(SendRequestTest, EmptyUserNameForNtlmHasNoLoggedOnCredentialsHere) {
  // Linux keeps no NTLM credentials for the logged-on user: after the logon level is lowered
  // the second send has nothing to offer and the 401 ends the exchange.
  CHttpSettings settings = FastSettings(tsa->WideUrl("/ntlm/auto"));
  settings.serverAuthScheme = 2;
  EXPECT_TRUE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 401u);
  const auto requests = tsa->RequestsTo("/ntlm/auto");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].at("authorization"), "-");
}

}  // namespace
}  // namespace Velmora::Testing
