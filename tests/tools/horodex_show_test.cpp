// `horodex show` run as a user runs it, on OpenSSL's requests, responses and tokens.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include <regex>

#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

T::CommandResult Show(const std::string& args) {
  return T::RunCommand(T::ShellQuote(kTool) + " show " + args + " 2>&1");
}

std::string Fixture(const std::string& name) {
  return T::ShellQuote((T::OpenSslTsaDir() / name).string());
}

}  // namespace

TEST(HorodexShow, RequestFieldsAsJson) {
  const T::CommandResult r = Show("--json " + Fixture("q-full.tsq"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(Has(r, R"("type": "time-stamp request")")) << r.output;
  EXPECT_TRUE(Has(r, R"x("hashAlgorithm": {"oid": "2.16.840.1.101.3.4.2.1", "name": "sha256"})x"));
  EXPECT_TRUE(Has(r, R"("policy": "1.2.3.4.5")"));
  EXPECT_TRUE(Has(r, R"("certReq": true)"));
  EXPECT_FALSE(Has(r, R"("nonce": null)"));

  const T::CommandResult noNonce = Show("--json " + Fixture("q-nononce.tsq"));
  ASSERT_EQ(noNonce.exitCode, 0) << noNonce.output;
  EXPECT_TRUE(Has(noNonce, R"("nonce": null)"));
  EXPECT_TRUE(Has(noNonce, R"("certReq": false)"));
}

TEST(HorodexShow, ExitCodesTellFailuresApart) {
  T::TempDir dir;
  T::WriteFileBytes(dir / "garbage.bin", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
  const T::CommandResult garbage = Show(T::ShellQuote((dir / "garbage.bin").string()));
  EXPECT_EQ(garbage.exitCode, 3);
  EXPECT_TRUE(Has(garbage, "0x80093102")) << garbage.output;

  EXPECT_EQ(Show(T::ShellQuote((dir / "missing.tsr").string())).exitCode, 2);
  EXPECT_EQ(Show("").exitCode, 1);
  EXPECT_EQ(Show("--bogus x").exitCode, 1);
}
