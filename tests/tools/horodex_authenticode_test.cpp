// horodex authenticode against the test TSA's Authenticode mode: the reply written is the
// server's PKCS #7 over the file's bytes, and failures say why with their own exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

TEST(HorodexAuthenticodeTest, WritesTheServersSignedReplyOrSaysWhyNot) {
  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
  const std::string content = "encrypted digest of a signature";
  T::WriteFileBytes(dir / "digest.bin", std::vector<unsigned char>(content.begin(), content.end()));
  const std::string in = T::ShellQuote((dir / "digest.bin").string());
  const std::string out = T::ShellQuote((dir / "stamp.p7").string());

  const auto made = T::RunCommand(kTool + " authenticode " + in + " --url " +
                                  tsa.Url("/authenticode") + " -o " + out + " 2>&1");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const auto verified =
      T::RunCommand("openssl smime -verify -binary -inform DER -in " + out + " -CAfile " +
                    T::ShellQuote(tsa.File("ca.pem").string()) + " -purpose any 2>/dev/null");
  EXPECT_EQ(verified.exitCode, 0);
  EXPECT_EQ(verified.output, content);

  const auto refused = T::RunCommand(kTool + " authenticode " + in + " --url " +
                                     tsa.Url("/status/500/") + " -o " + out + " 2>&1");
  EXPECT_EQ(refused.exitCode, 5);
  EXPECT_TRUE(Has(refused, "0xC2100100")) << refused.output;

  const auto missing = T::RunCommand(kTool + " authenticode " + in + ".none --url " +
                                     tsa.Url("/authenticode") + " -o " + out + " 2>&1");
  EXPECT_EQ(missing.exitCode, 2) << missing.output;
  EXPECT_EQ(T::RunCommand(kTool + " authenticode " + in + " 2>&1").exitCode, 1);
}

}  // namespace
