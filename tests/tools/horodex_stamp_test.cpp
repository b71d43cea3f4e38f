// horodex stamp and horodex compare against horodex-testtsa: the written response is one OpenSSL
// verifies for the file, each way to fail has its own exit code, the TSAs given are tried in turn
// only where another may answer, the time-out holds, and two stamps are ordered.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

class HorodexStampTest : public ::testing::Test {
 protected:
  HorodexStampTest() {
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);  // no root of the user's trusted
    T::WriteFileBytes(dir / "doc.txt", {'s', 't', 'a', 'm', 'p', ' ', 'm', 'e'});
  }
  ~HorodexStampTest() override { unsetenv("XDG_DATA_HOME"); }

  T::CommandResult Stamp(const std::string& path, const std::string& options = {}) {
    return T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " --tsa " + tsa.Url(path) +
                         " -o " + Q(dir / "doc.tsr") + " " + options + " 2>&1");
  }
  static std::string Q(const std::filesystem::path& path) { return T::ShellQuote(path.string()); }
  std::string Ca() const { return " --ca " + Q(tsa.File("ca.pem")); }

  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
};

TEST_F(HorodexStampTest, WritesAResponseOpenSslVerifiesForTheFile) {
  // The defaults: SHA-256, the TSA's certificate asked for.
  const auto made = Stamp("/", "--no-verify");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  EXPECT_TRUE(Has(made, "Time:")) << made.output;
  EXPECT_TRUE(Has(made, "Serial number:")) << made.output;
  EXPECT_TRUE(Has(made, "CN=Horodex Test TSA")) << made.output;
  const auto checked =
      T::RunCommand("openssl ts -verify -in " + Q(dir / "doc.tsr") + " -data " +
                    Q(dir / "doc.txt") + " -CAfile " + Q(tsa.File("ca.pem")) + " 2>&1");
  EXPECT_EQ(checked.exitCode, 0) << checked.output;

  // Options reach the request: SHA-512, a policy, no nonce, the certificate asked for.
  const auto options = Stamp("/",
                             "--no-verify --hash sha512 --policy 1.2.3.4.5 --no-nonce "
                             "--cert-req --json");
  ASSERT_EQ(options.exitCode, 0) << options.output;
  EXPECT_TRUE(Has(options, "\"policy\": \"1.2.3.4.5\"")) << options.output;
  const auto shown = T::RunCommand(kTool + " show " + Q(dir / "doc.tsr"));
  EXPECT_TRUE(Has(shown, "2.16.840.1.101.3.4.2.3")) << shown.output;
}

TEST_F(HorodexStampTest, EachWayToFailHasItsExitCode) {
  // Credentials reach the TSA; without them it refuses with 401.
  EXPECT_EQ(
      Stamp("/basic/", "--no-verify --auth basic --user tsa-user --password tsa-pass").exitCode, 0);
  EXPECT_EQ(Stamp("/basic/", "--no-verify").exitCode, 11);
  std::filesystem::remove(dir / "doc.tsr");
  EXPECT_EQ(Stamp("/status/500/").exitCode, 11);  // an HTTP error
  EXPECT_EQ(Stamp("/reject/badRequest/").exitCode, 12);
  EXPECT_EQ(Stamp("/otherdata/").exitCode, 13);  // not a stamp for this file
  EXPECT_EQ(Stamp("/token/").exitCode, 13);      // no response around the token
  const auto unreachable =
      T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " --tsa http://127.0.0.1:" +
                    std::to_string(T::FreeLoopbackPort()) + "/ -o " + Q(dir / "x.tsr") + " --json");
  EXPECT_EQ(unreachable.exitCode, 11);
  EXPECT_TRUE(Has(unreachable, "\"stage\": \"transport\"")) << unreachable.output;

  // The test TSA's CA is trusted by nobody here: the stamp does not verify, and nothing is
  // written.
  const auto untrusted = Stamp("/", "--cert-req");
  EXPECT_EQ(untrusted.exitCode, 14) << untrusted.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "doc.tsr"));

  env.MachinePolicies("\"DisableNonce\"=dword:1\n");
  const auto forbidden = Stamp("/");
  EXPECT_EQ(forbidden.exitCode, 10) << forbidden.output;
  EXPECT_TRUE(Has(forbidden, "0xC2100104")) << forbidden.output;

  EXPECT_EQ(T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " -o x.tsr").exitCode, 1);
  EXPECT_EQ(Stamp("/", "--auth kerberos").exitCode, 1);
  EXPECT_EQ(Stamp("/", "--ca " + Q(dir / "none.pem")).exitCode, 2);
}

TEST_F(HorodexStampTest, VerifiesWithTheCaGiven) {
  const auto made = Stamp("/", Ca() + " --cert-req --json");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  EXPECT_TRUE(Has(made, "\"result\": \"verified\"")) << made.output;

  // Over HTTPS the TLS server's root is named apart (--tls-ca); without it the TSA is not reached.
  T::TestTsaOptions tls;
  tls.tls = true;
  const T::TestTsaProcess https(tls);
  const std::string command = kTool + " stamp " + Q(dir / "doc.txt") + " --tsa " + https.Url("/") +
                              " -o " + Q(dir / "tls.tsr") + " --no-verify";
  EXPECT_EQ(T::RunCommand(command).exitCode, 11);
  EXPECT_EQ(T::RunCommand(command + " --tls-ca " + Q(https.File("ca.pem"))).exitCode, 0);
  EXPECT_EQ(T::RunCommand(command + " --tls-ca " + Q(dir / "none.pem")).exitCode, 2);
}

TEST_F(HorodexStampTest, TriesTheNextTsaOnlyWhereAnotherMayAnswer) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(T::FreeLoopbackPort()) + "/";
  T::TestTsaProcess stranger;  // a TSA whose root nobody here trusts
  const struct {
    std::string first;
    int exit;
    bool secondAsked;
  } cases[] = {
      {closed, 0, true},
      {tsa.Url("/status/503/"), 0, true},
      {tsa.Url("/reject/systemFailure/"), 0, true},
      {tsa.Url("/reject/timeNotAvailable/"), 0, true},
      {tsa.Url("/reject/badAlg/"), 0, true},  // the next TSA may take the hash, policy, extension
      {tsa.Url("/reject/unacceptedPolicy/"), 0, true},
      {tsa.Url("/reject/unacceptedExtension/"), 0, true},
      {tsa.Url("/reject/badRequest/"), 12, false},
      {tsa.Url("/otherdata/"), 13, false},  // a reply that does not verify is reported
      {stranger.Url("/"), 14, false},
  };
  for (const auto& c : cases) {
    const std::size_t before = tsa.RequestsTo("/second/").size();
    const auto r = T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " --tsa " + c.first +
                                 " --tsa " + tsa.Url("/second/") + Ca() + " --cert-req --json -o " +
                                 Q(dir / "f.tsr") + " 2>&1");
    EXPECT_EQ(r.exitCode, c.exit) << c.first << "\n" << r.output;
    EXPECT_EQ(tsa.RequestsTo("/second/").size() > before, c.secondAsked) << c.first;
    // The URL that answered, or the last one tried.
    const std::string named = c.exit == 0 ? tsa.Url("/second/") : c.first;
    EXPECT_TRUE(Has(r, "\"tsaUrl\": \"" + named + "\"")) << r.output;
  }
  // A TSA the administrator forbids is passed over for one that is allowed.
  env.MachinePolicies(
      "\"AllowedTSPsSetted\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\AllowedTSPs]\n"
      "\"1\"=\"" +
      tsa.Url("/second/") + "\"\n");
  const auto allowed =
      T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " --tsa " + tsa.Url("/") + " --tsa " +
                    tsa.Url("/second/") + Ca() + " -o " + Q(dir / "f.tsr") + " 2>&1");
  EXPECT_EQ(allowed.exitCode, 0) << allowed.output;
  EXPECT_TRUE(Has(allowed, "0xC2100103")) << allowed.output;  // the first, forbidden, is told
}

TEST_F(HorodexStampTest, TimeOutBoundsEachExchange) {
  const auto start = std::chrono::steady_clock::now();
  const auto slow = Stamp("/slow/6000/", "--no-verify --timeout 2");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(slow.exitCode, 11) << slow.output;
  // Well before the server's six seconds, with room for a tool started under a sanitizer on a
  // loaded machine (3 s was once missed by 11 ms there).
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(Stamp("/slow/300/", "--no-verify --timeout 2").exitCode, 0);
  // A TSA that hangs leaves the next its own time.
  EXPECT_EQ(Stamp("/silent/", "--no-verify --timeout 1 --tsa " + tsa.Url("/")).exitCode, 0);

  const std::string bad[] = {
      "--timeout -1",           "--timeout 0",   "--timeout 3601", "--timeout 2s",
      "--tsa ftp://127.0.0.1/", "--tsa http://", "--tsa ''"};
  for (const std::string& options : bad) {
    EXPECT_EQ(Stamp("/", options).exitCode, 1) << options;
  }
  EXPECT_EQ(T::RunCommand(kTool + " authenticode " + Q(dir / "doc.txt") + " --timeout -5 -o " +
                          Q(dir / "a.p7"))
                .exitCode,
            1);
}

TEST_F(HorodexStampTest, CompareOrdersStampsOrSaysTheyCannotBe) {
  const auto a = Stamp("/", "--no-verify -o " + Q(dir / "a.tsr"));
  const auto b = Stamp("/", "--no-verify -o " + Q(dir / "b.tsr"));
  ASSERT_EQ(a.exitCode, 0) << a.output;
  ASSERT_EQ(b.exitCode, 0) << b.output;
  const auto compare = [&](const std::string& x, const std::string& y,
                           const std::string& options = {}) {
    return T::RunCommand(kTool + " compare " + Q(dir / x) + " " + Q(dir / y) + " " + options +
                         " 2>&1");
  };
  // One TSA that sets ordering: genTime alone decides.
  const auto ordered = compare("b.tsr", "a.tsr", "--json");
  ASSERT_EQ(ordered.exitCode, 0) << ordered.output;
  EXPECT_TRUE(Has(ordered, "\"order\": \"after\"")) << ordered.output;
  EXPECT_TRUE(Has(ordered, "a.tsr came before")) << ordered.output;

  // A stamp against itself: the same time cannot be ordered.
  const auto same = compare("b.tsr", "b.tsr");
  EXPECT_EQ(same.exitCode, 0) << same.output;
  EXPECT_TRUE(Has(same, "cannot be ordered")) << same.output;
  EXPECT_TRUE(Has(compare("b.tsr", "b.tsr", "--json"), "\"order\": \"same\"")) << same.output;

  EXPECT_EQ(compare("a.tsr", "doc.txt").exitCode, 3);
  EXPECT_EQ(compare("a.tsr", "missing.tsr").exitCode, 2);
  EXPECT_EQ(compare("a.tsr", "b.tsr", "--accuracy x").exitCode, 1);
}

}  // namespace
