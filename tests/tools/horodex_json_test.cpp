// Every command's --json output against the schema of docs/json/horodex.schema.json: one object
// per line, null for what is absent, algorithms as {oid, name}, times in RFC 3339 UTC.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/tsp_fixtures.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = T::ShellQuote(std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex");

TEST(HorodexJson, EveryCommandsOutputFitsItsSchema) {
  T::ConfigEnvironment env;
  T::TempDir dir;
  const T::TestTsaProcess tsa;
  T::WriteFileBytes(dir / "doc.txt", {'j', 's', 'o', 'n'});
  const auto q = [&](const std::string& name) { return T::ShellQuote((dir / name).string()); };
  const std::string ca = " --ca " + T::ShellQuote(tsa.File("ca.pem").string());
  const std::string at = " --tsa " + tsa.Url("/") + ca;
  // OpenSSL's bare token and refusal, which the tool itself does not save.
  const auto fixture = [](const std::string& name) {
    return T::ShellQuote((T::OpenSslTsaDir() / name).string());
  };
  ASSERT_EQ(
      T::RunCommand("openssl cms -sign -binary -nodetach -outform DER -in " + q("doc.txt") +
                    " -signer " + T::ShellQuote(tsa.File("client.pem").string()) + " -inkey " +
                    T::ShellQuote(tsa.File("client.key").string()) + " -out " + q("sig.p7s"))
          .exitCode,
      0);
  const std::string check =
      " | /usr/bin/python3 " +
      T::ShellQuote(std::string(HORODEX_SOURCE_DIR) + "/tests/data/json_check.py") + " " +
      T::ShellQuote(std::string(HORODEX_SOURCE_DIR) + "/docs/json/horodex.schema.json");
  const struct {
    std::string command;
    const char* kind;
    bool onError = false;  // a failure's report, on standard error
  } cases[] = {
      {"query " + q("doc.txt") + " -o " + q("q.tsq"), nullptr},
      {"stamp " + q("doc.txt") + at + " -o " + q("a.tsr") + " --json", "stamp"},
      {"stamp " + q("doc.txt") + at + " --no-verify -o " + q("b.tsr") + " --json", "stamp"},
      {"stamp " + q("doc.txt") + " --tsa " + tsa.Url("/reject/badAlg/") + " -o " + q("c.tsr") +
           " --json",
       "stamp-failure", true},
      {"stamp " + q("doc.txt") + " --tsa " + tsa.Url("/") + " -o " + q("c.tsr") + " --json",
       "stamp-failure", true},
      {"show --json " + q("q.tsq"), "show-request"},
      {"show --json " + q("a.tsr"), "show-stamp"},
      {"show --json " + fixture("ec-bare.tst"), "show-stamp"},
      {"show --json " + fixture("rejected-alg.tsr"), "show-stamp"},
      {"verify " + q("a.tsr") + " --data " + q("doc.txt") + ca + " --json", "verify"},
      {"verify " + q("a.tsr") + " " + q("b.tsr") + ca + " --signature-only --json",
       "verify-several"},
      {"compare " + q("a.tsr") + " " + q("b.tsr") + " --json", "compare"},
      {"compare " + q("a.tsr") + " " + q("a.tsr") + " --json", "compare"},
      {"proxy http://127.0.0.1:9/ --json", "proxy"},
      {"ers stamp " + q("doc.txt") + at + " -o " + q("records") + " --json", "ers-stamp"},
      {"stamp --evidence " + q("doc.txt") + at + " -o " + q("more") + " --json", "ers-stamp"},
      {"ers stamp " + q("doc.txt") + " --tsa " + tsa.Url("/reject/badAlg/") + " -o " + q("none") +
           " --json",
       "stamp-failure", true},
      {"ers verify " + q("records/doc.txt.ers") + " --data " + q("doc.txt") + ca + " --json",
       "ers-verify"},
      {"renew " + q("records/doc.txt.ers") + at + " --json", "ers-renew"},
      {"ers show " + q("records/doc.txt.ers") + " --json", "ers-show"},
      {"stamp --signature " + q("sig.p7s") + at + " -o " + q("st.p7s") + " --json",
       "stamp-signature"},
      {"verify " + q("st.p7s") + ca + " --json", "verify-signature"},
      {"show --json " + q("st.p7s"), "show-signature"},
  };
  for (const auto& c : cases) {
    const std::string run = kTool + " " + c.command;
    if (c.kind == nullptr) {
      ASSERT_EQ(T::RunCommand(run).exitCode, 0) << c.command;
      continue;
    }
    const T::CommandResult checked = T::RunCommand(
        "(" + run + (c.onError ? " 2>&1 >/dev/null" : " 2>/dev/null") + ")" + check + " " + c.kind);
    EXPECT_EQ(checked.exitCode, 0) << c.command << "\n" << checked.output;
  }
}

}  // namespace
