// Proxy discovery below the exchange: the desktop's settings (KDE's kioslaverc, GNOME's
// GSettings through the keyfile backend) as the four fields of the user's configuration, and
// proxy scripts run by WinHttpGetProxyForUrl: their answers, their failures with the codes
// WinHTTP gives, and the session's reuse of a downloaded script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/base/free_with.h"
#include "platform/errors/last_error.h"
#include "platform/http/winhttp.h"
#include "platform/text/convert.h"
#include "tests/common/child_process.h"
#include "tests/common/hive_env.h"
#include "tests/common/saved_environment.h"

namespace Velmora::Testing {
namespace {

namespace P = Platform;

std::string Take(wchar_t* text) {
  const std::unique_ptr<wchar_t, P::FreeWith<P::GlobalFree>> owned(text);
  return owned ? P::WideToNarrow(owned.get()) : "-";
}

using Session = std::unique_ptr<P::HttpObject, P::FreeWith<P::WinHttpCloseHandle>>;

Session OpenSession() {
  Session session(P::WinHttpOpen(L"test", P::WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  EXPECT_TRUE(P::WinHttpSetTimeouts(session.get(), 0, 1000, 1000, 1000));
  return session;
}

// The script's proxy list for http://tsa.example.org ("DIRECT" for none), or "error N".
std::string AnswerOf(P::HINTERNET session, const std::string& scriptUrl) {
  const std::wstring wide = P::NarrowToWide(scriptUrl);
  P::WINHTTP_AUTOPROXY_OPTIONS options{};
  options.dwFlags = P::WINHTTP_AUTOPROXY_CONFIG_URL | P::WINHTTP_AUTOPROXY_RUN_INPROCESS;
  options.lpszAutoConfigUrl = wide.c_str();
  P::WINHTTP_PROXY_INFO_RESULT found{};
  if (!P::WinHttpGetProxyForUrl(session, L"http://tsa.example.org", &options, &found)) {
    return "error " + std::to_string(P::GetLastError());
  }
  Take(found.lpszProxyBypass);
  return found.dwAccessType == P::WINHTTP_ACCESS_TYPE_NO_PROXY ? "DIRECT" : Take(found.lpszProxy);
}

// The user's configuration as "autodetect|script|proxy|bypass", or "error N".
std::string UserConfig() {
  P::WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!P::WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    return "error " + std::to_string(P::GetLastError());
  }
  return std::string(config.fAutoDetect ? "auto" : "-") + "|" + Take(config.lpszAutoConfigUrl) +
         "|" + Take(config.lpszProxy) + "|" + Take(config.lpszProxyBypass);
}

class AutoProxyTest : public ::testing::Test {
 protected:
  const SavedEnvironment m_proxies{kProxyVariables, true};
  const SavedEnvironment m_desktop{{"XDG_CURRENT_DESKTOP", "GSETTINGS_BACKEND"}, true};
  std::string Script(const std::string& name, const std::string& text) {
    ConfigEnvironment::Write(env.scratch() / name, text);
    return "file://" + (env.scratch() / name).string();
  }
  ConfigEnvironment env;
};

TEST_F(AutoProxyTest, ScriptAnswersAndFailures) {
  const std::string helpers =
      "dnsDomainLevels(host) == 2 && localHostOrDomainIs('www', 'www.example') &&"
      " isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0') && !isInNet('11.1.2.3', '10.0.0.0',"
      " '255.0.0.0') && isInNetEx('10.1.2.3', '10.0.0.0/8') && dnsResolve('localhost') =="
      " '127.0.0.1' && isResolvable('localhost') && weekdayRange('SUN', 'SAT') &&"
      " timeRange(0, 24) && dateRange(1, 31) && shExpMatch(url, 'http://*.example.*') &&"
      " dnsDomainIs(host, '.example.org') && !isPlainHostName(host)";
  const struct {
    std::string body;
    std::string expected;
  } cases[] = {
      {"function FindProxyForURL(u, h) { return 'PROXY proxy.example:8080'; }",
       "http://proxy.example:8080"},
      {"function FindProxyForURL(u, h) { return ' HTTPS secure.example:443 ;'; }",
       "https://secure.example:443"},
      {"function FindProxyForURL(url, host) { return (" + helpers + ") ? 'DIRECT' : 'x'; }",
       "DIRECT"},
      {"function FindProxyForURL(u, h) { return 'SOCKS s:1080'; }", "DIRECT"},
      {"function FindProxyForURL(u, h) {", "error 12166"},
      {"var notTheFunction = 1;", "error 12166"},
      {"function FindProxyForURL(u, h) { return 42; }", "error 12177"},
      {"function FindProxyForURL(u, h) { return ''; }", "error 12177"},
      {"function FindProxyForURL(u, h) { return 'PROXY'; }", "error 12177"},
      {"function FindProxyForURL(u, h) { return 'TUNNEL t:1'; }", "error 12177"},
      {"function FindProxyForURL(u, h) { return 'PROXY p:99999'; }", "error 12177"},
      {"function FindProxyForURL(u, h) { throw new Error('no'); }", "error 12177"},
      {"function FindProxyForURL(u, h) { var a = []; for (;;) a.push(new Array(1e5).join('x')); }",
       "error 12177"},
      {"for (;;) {}", "error 12177"},
      {"function FindProxyForURL(u, h) { return typeof require + typeof print + typeof"
       " XMLHttpRequest == 'undefinedundefinedundefined' ? 'DIRECT' : 'PROXY leak:1'; }",
       "DIRECT"},
  };
  int index = 0;
  for (const auto& c : cases) {
    const Session session = OpenSession();
    EXPECT_EQ(AnswerOf(session.get(), Script(std::to_string(index++) + ".pac", c.body)), c.expected)
        << c.body;
  }
  const Session session = OpenSession();
  EXPECT_EQ(AnswerOf(session.get(), "file:///nonexistent/proxy.pac"), "error 12167");
  EXPECT_EQ(AnswerOf(session.get(), "ftp://example.org/proxy.pac"), "error 12167");
  EXPECT_EQ(AnswerOf(session.get(), Script("big.pac", std::string((1u << 20) + 1, ' '))),
            "error 12166");
  // Without the helper (or its script engine) the call fails plainly.
  setenv("HORODEX_PROXY_HELPER", "/nonexistent/horodex-proxy-helper", 1);
  EXPECT_EQ(AnswerOf(OpenSession().get(), Script("0.pac", cases[0].body)), "error 12178");
  setenv("HORODEX_PROXY_HELPER", "/bin/false", 1);
  EXPECT_EQ(AnswerOf(OpenSession().get(), Script("0.pac", cases[0].body)), "error 12178");
  unsetenv("HORODEX_PROXY_HELPER");
}

TEST_F(AutoProxyTest, ServedScriptsAreReusedBySessionAndTyped) {
  const int port = FreeLoopbackPort();
  ConfigEnvironment::Write(env.scratch() / "www/proxy.pac",
                           "function FindProxyForURL(u, h) { return 'PROXY first:1'; }");
  ConfigEnvironment::Write(env.scratch() / "www/page.html", "<html></html>");
  ChildProcess server("/usr/bin/python3",
                      {"-m", "http.server", std::to_string(port), "--bind", "127.0.0.1",
                       "--directory", (env.scratch() / "www").string()});
  ASSERT_TRUE(WaitForListener(port, std::chrono::seconds(10)));
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const Session session = OpenSession();
  EXPECT_EQ(AnswerOf(session.get(), base + "/proxy.pac"), "http://first:1");
  ConfigEnvironment::Write(env.scratch() / "www/proxy.pac",
                           "function FindProxyForURL(u, h) { return 'PROXY second:1'; }");
  EXPECT_EQ(AnswerOf(session.get(), base + "/proxy.pac"), "http://first:1");
  EXPECT_EQ(AnswerOf(OpenSession().get(), base + "/proxy.pac"), "http://second:1");
  EXPECT_EQ(AnswerOf(session.get(), base + "/missing.pac"), "error 12167");
  EXPECT_EQ(AnswerOf(session.get(), base + "/page.html"), "error 12176");
}

TEST_F(AutoProxyTest, KdeSettingsInEachMode) {
  setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
  const struct {
    std::string settings;
    std::string expected;
  } cases[] = {
      {"ProxyType=1\nhttpProxy=http://proxy.corp 3128\nhttpsProxy=proxy.corp:3129\n"
       "NoProxyFor=.corp, localhost\n",
       "-|-|http=http://proxy.corp:3128;https=proxy.corp:3129|.corp;localhost"},
      {"ProxyType=1\nhttpProxy=proxy.corp 3128\nNoProxyFor=.corp\nReversedException=true\n",
       "-|-|http=proxy.corp:3128|-"},
      {"ProxyType=2\nProxy Config Script=http://wpad.corp/proxy.pac\n",
       "-|http://wpad.corp/proxy.pac|-|-"},
      {"ProxyType=3\n", "auto|-|-|-"},
      {"ProxyType=0\nhttpProxy=proxy.corp 3128\n", "error 2"},
      {"ProxyType=1\nhttpProxy=http://proxy.corp 99999\n", "error 12005"},
      {"ProxyType=1\nhttpProxy=http://pro xy.corp:80\n", "error 12005"},
      {"ProxyType=1\nhttpProxy=socks://proxy.corp:1080\n", "error 12005"},
  };
  for (const auto& c : cases) {
    ConfigEnvironment::Write(env.config() / "kioslaverc", "[Proxy Settings]\n" + c.settings);
    EXPECT_EQ(UserConfig(), c.expected) << c.settings;
  }
  // The proxy variables win over the desktop.
  setenv("https_proxy", "http://env-proxy:3128", 1);
  EXPECT_EQ(UserConfig(), "-|-|https=http://env-proxy:3128|-");
  unsetenv("https_proxy");
}

TEST_F(AutoProxyTest, GnomeSettingsThroughTheKeyfileBackend) {
  setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  setenv("GSETTINGS_BACKEND", "keyfile", 1);
  const struct {
    std::string settings;
    std::string expected;
  } cases[] = {
      {"[system/proxy]\nmode='manual'\nignore-hosts=['localhost', '*.internal.test']\n"
       "[system/proxy/http]\nhost='127.0.0.1'\nport=3128\n",
       "-|-|127.0.0.1:3128|localhost;*.internal.test"},
      {"[system/proxy]\nmode='manual'\nignore-hosts=@as []\n[system/proxy/http]\nhost='h'\n"
       "port=80\n[system/proxy/https]\nhost='s'\nport=443\n",
       "-|-|http=h:80;https=s:443|-"},
      {"[system/proxy]\nmode='auto'\nautoconfig-url='http://pac.corp/p.pac'\n",
       "-|http://pac.corp/p.pac|-|localhost;127.0.0.0/8;::1"},
      {"[system/proxy]\nmode='auto'\n", "auto|-|-|localhost;127.0.0.0/8;::1"},
      {"[system/proxy]\nmode='none'\n[system/proxy/http]\nhost='h'\nport=80\n", "error 2"},
      {"[system/proxy]\nmode='manual'\n[system/proxy/http]\nhost='bad host'\nport=80\n",
       "error 12005"},
      {"[system/proxy]\nmode='manual'\n[system/proxy/http]\nhost='h'\nport=0\n", "error 12005"},
  };
  for (const auto& c : cases) {
    ConfigEnvironment::Write(env.config() / "glib-2.0/settings/keyfile", c.settings);
    EXPECT_EQ(UserConfig(), c.expected) << c.settings;
  }
}

}  // namespace
}  // namespace Velmora::Testing
