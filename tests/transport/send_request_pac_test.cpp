// SendRequest with the proxy found by a proxy script that the desktop's settings name (KDE's
// kioslaverc in a temporary XDG_CONFIG_HOME): the answer sends the stamp through the real proxy,
// straight, or through the first live proxy of a list; a script that never answers is stopped
// within the receive time-out and the exchange fails with its code.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/tinyproxy_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Testing {
namespace {

using PKI::CHttpSettings;
using PKI::SendRequest;

class SendRequestPacTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tsa = std::make_unique<TestTsaProcess>();
    proxy = std::make_unique<TinyproxyProcess>();
  }
  static void TearDownTestSuite() {
    tsa.reset();
    proxy.reset();
  }
  void SetUp() override {
    ClearProxyEnvironment();
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
  }
  void TearDown() override { unsetenv("XDG_CURRENT_DESKTOP"); }

  // KDE set to use a script whose FindProxyForURL returns `answer` (an expression).
  void UseScript(const std::string& body) {
    const auto script = env.scratch() / "proxy.pac";
    ConfigEnvironment::Write(script, "function FindProxyForURL(url, host) { " + body + " }\n");
    ConfigEnvironment::Write(
        env.config() / "kioslaverc",
        "[Proxy Settings]\nProxyType=2\nProxy Config Script=file://" + script.string() + "\n");
  }
  // Posts to `path` with discovery on; whether the TSA saw it through the proxy.
  static bool ThroughProxy(const std::string& path) {
    CHttpSettings settings = FastSettings(tsa->WideUrl(path));
    settings.proxySet = false;
    Post(settings);
    EXPECT_EQ(settings.httpStatus, 200u) << path;
    const auto requests = tsa->RequestsTo(path);
    return !requests.empty() && requests.back().at("via").find("tinyproxy") != std::string::npos;
  }

  ConfigEnvironment env;
  static inline std::unique_ptr<TestTsaProcess> tsa;
  static inline std::unique_ptr<TinyproxyProcess> proxy;
};

TEST_F(SendRequestPacTest, TheScriptsAnswerChoosesTheWay) {
  const std::string live = "127.0.0.1:" + std::to_string(proxy->port());
  const std::string dead = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  const struct {
    std::string body;
    bool proxied;
  } cases[] = {
      {"return 'PROXY " + live + "';", true},
      {"return 'DIRECT';", false},
      // A rule of the script that sends the TSA's host straight.
      {"if (isPlainHostName(host) || shExpMatch(host, '127.0.0.*')) return 'DIRECT';"
       " return 'PROXY " +
           live + "';",
       false},
      {"return 'PROXY " + dead + "; PROXY " + live + "';", true},
      {"return 'SOCKS " + live + "; PROXY " + dead + "; DIRECT';", false},
  };
  int index = 0;
  for (const auto& c : cases) {
    UseScript(c.body);
    const std::string path = "/pac/" + std::to_string(index++);
    EXPECT_EQ(ThroughProxy(path), c.proxied) << c.body;
  }
  EXPECT_NE(proxy->Log().find("/pac/0"), std::string::npos);
}

TEST_F(SendRequestPacTest, AScriptThatNeverAnswersIsStoppedWithinTheTimeout) {
  UseScript("for (;;) {}");
  CHttpSettings settings = FastSettings(tsa->WideUrl("/pac/loop"));
  settings.proxySet = false;
  settings.timeouts = {2000, 2000, 1000};
  Platform::HRESULT thrown = 0;
  const auto took = Timed([&] { thrown = PostCode(settings); });
  EXPECT_EQ(thrown, WinHttpHResult(12177));
  EXPECT_LT(took.count(), 3000);
  EXPECT_TRUE(tsa->RequestsTo("/pac/loop").empty());
}

}  // namespace
}  // namespace Velmora::Testing
