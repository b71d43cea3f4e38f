// horodex proxy: which proxy a stamp would use and why, with WPAD found by a real name lookup:
// in private user, mount, network and host-name namespaces, /etc/hosts names wpad.corp.test as
// 127.0.0.1 and a web server on its port 80 serves wpad.dat; KDE's settings ask for detection.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"

namespace Velmora::Testing {
namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

TEST(HorodexProxyTest, WpadByDnsInAPrivateNamespace) {
  if (RunCommand("unshare -rmnu true").exitCode != 0) {
    GTEST_SKIP() << "this machine forbids user namespaces (unshare -rmnu), so WPAD by DNS "
                    "cannot be shown with a private /etc/hosts";
  }
  ConfigEnvironment env;
  const auto dir = env.scratch();
  ConfigEnvironment::Write(dir / "hosts", "127.0.0.1 localhost\n127.0.0.1 wpad.corp.test\n");
  ConfigEnvironment::Write(dir / "resolv.conf", "nameserver 127.0.0.1\nsearch sub.corp.test\n");
  ConfigEnvironment::Write(dir / "www/wpad.dat",
                           "function FindProxyForURL(url, host) {\n"
                           "  return dnsDomainIs(host, '.corp.test') ? 'PROXY 127.0.0.1:3128' :"
                           " 'DIRECT';\n}\n");
  ConfigEnvironment::Write(env.config() / "kioslaverc", "[Proxy Settings]\nProxyType=3\n");
  const std::string script =
      "set -e; hostname client; ip link set lo up; mount --bind hosts /etc/hosts;"
      " mount --bind resolv.conf /etc/resolv.conf;"
      " python3 -m http.server 80 --bind 127.0.0.1 --directory www >/dev/null 2>&1 &"
      " for i in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && break; sleep 0.1;"
      " done; export XDG_CURRENT_DESKTOP=KDE; unset http_proxy https_proxy all_proxy;"
      " " +
      ShellQuote(kTool) + " proxy --json http://tsa.corp.test/; " + ShellQuote(kTool) +
      " proxy http://tsa.elsewhere.test/; kill %1";
  const CommandResult result = RunCommand("cd " + ShellQuote(dir.string()) +
                                          " && unshare -rmnu bash -c " + ShellQuote(script));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  for (const char* expected :
       {"\"proxy\": \"http://127.0.0.1:3128\"", "\"source\": \"KDE settings ",
        "\"script\": \"http://wpad.corp.test/wpad.dat\"", "wpad.sub.corp.test does not resolve",
        "proxy:  DIRECT\n", "answer: DIRECT\n"}) {
    EXPECT_TRUE(Has(result, expected)) << expected << "\n" << result.output;
  }
}

TEST(HorodexProxyTest, ExplainsStaticProxyBypassAndFailure) {
  ConfigEnvironment env;
  ConfigEnvironment::Write(env.config() / "kioslaverc",
                           "[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy.corp 3128\n"
                           "NoProxyFor=.internal.test\n");
  const std::string prefix =
      "XDG_CURRENT_DESKTOP=KDE XDG_CONFIG_HOME=" + ShellQuote(env.config().string()) +
      " env -u http_proxy -u https_proxy -u all_proxy " + kTool + " proxy ";
  CommandResult result = RunCommand(prefix + "http://tsa.example.org/");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(Has(result, "proxy:  http://proxy.corp:3128\nsource: KDE settings")) << result.output;
  result = RunCommand(prefix + "--json http://tsa.internal.test/");
  EXPECT_TRUE(Has(result, "\"proxy\": \"DIRECT\"")) << result.output;
  EXPECT_TRUE(Has(result, "\"bypassRule\": \".internal.test\""));
  ConfigEnvironment::Write(env.config() / "kioslaverc",
                           "[Proxy Settings]\nProxyType=2\nProxy Config Script=file:///none.pac\n");
  result = RunCommand(prefix + "http://tsa.example.org/");
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_TRUE(Has(result, "error:  0x80072F87")) << result.output;
  EXPECT_EQ(RunCommand(kTool + " proxy").exitCode, 1);
}

}  // namespace
}  // namespace Velmora::Testing
