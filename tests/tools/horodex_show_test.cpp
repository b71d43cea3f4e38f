// `horodex show` run as a user runs it, on OpenSSL's requests, responses and tokens.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

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
  EXPECT_NE(r.output.find(R"("type": "time-stamp request")"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(R"x("hashAlgorithm": "2.16.840.1.101.3.4.2.1 (sha256)")x"),
            std::string::npos);
  EXPECT_NE(r.output.find(R"("policy": "1.2.3.4.5")"), std::string::npos);
  EXPECT_NE(r.output.find(R"("certReq": true)"), std::string::npos);
  EXPECT_EQ(r.output.find(R"("nonce": "absent")"), std::string::npos);

  const T::CommandResult noNonce = Show("--json " + Fixture("q-nononce.tsq"));
  ASSERT_EQ(noNonce.exitCode, 0) << noNonce.output;
  EXPECT_NE(noNonce.output.find(R"("nonce": "absent")"), std::string::npos);
  EXPECT_NE(noNonce.output.find(R"("certReq": false)"), std::string::npos);
}

TEST(HorodexShow, GrantedRejectedAndBareTokens) {
  const T::CommandResult granted = Show(Fixture("rsa-full.tsr"));
  ASSERT_EQ(granted.exitCode, 0) << granted.output;
  EXPECT_NE(granted.output.find("Status name:"), std::string::npos);
  EXPECT_NE(granted.output.find("granted"), std::string::npos);
  EXPECT_NE(granted.output.find("Time:"), std::string::npos);
  EXPECT_NE(granted.output.find("1.2.840.113549.1.1.1 (RSA)"), std::string::npos) << granted.output;

  const T::CommandResult rejected = Show("--json " + Fixture("rejected-alg.tsr"));
  ASSERT_EQ(rejected.exitCode, 0) << rejected.output;
  EXPECT_NE(rejected.output.find(R"("statusName": "rejection")"), std::string::npos);
  EXPECT_NE(rejected.output.find(R"("failureInfo": "badAlg")"), std::string::npos)
      << rejected.output;
  EXPECT_EQ(rejected.output.find(R"("time")"), std::string::npos);

  const T::CommandResult bare = Show("--json " + Fixture("ec-bare.tst"));
  ASSERT_EQ(bare.exitCode, 0) << bare.output;
  EXPECT_NE(bare.output.find(R"("type": "time-stamp token")"), std::string::npos);
  EXPECT_NE(bare.output.find(R"("nonce": "absent")"), std::string::npos);
}

TEST(HorodexShow, Base64TextGivesTheSameFieldsAsDer) {
  T::TempDir dir;
  const auto der = T::ReadFileBytes(T::OpenSslTsaDir() / "rsa-full.tsr");
  std::string base64(4 * ((der.size() + 2) / 3) + 1, '\0');
  base64.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(base64.data()), der.data(), static_cast<int>(der.size()))));
  std::string framed = "-----BEGIN TIME STAMP-----\r\n";
  for (std::size_t i = 0; i < base64.size(); i += 64) {
    framed += base64.substr(i, 64) + "\r\n";
  }
  framed += "-----END TIME STAMP-----\r\n";
  T::WriteFileBytes(dir / "stamp.b64", std::vector<unsigned char>(framed.begin(), framed.end()));

  const T::CommandResult fromDer = Show("--json " + Fixture("rsa-full.tsr"));
  const T::CommandResult fromText = Show("--json " + T::ShellQuote((dir / "stamp.b64").string()));
  ASSERT_EQ(fromText.exitCode, 0) << fromText.output;
  EXPECT_EQ(fromText.output, fromDer.output);
}

TEST(HorodexShow, ExitCodesTellFailuresApart) {
  T::TempDir dir;
  T::WriteFileBytes(dir / "garbage.bin", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
  const T::CommandResult garbage = Show(T::ShellQuote((dir / "garbage.bin").string()));
  EXPECT_EQ(garbage.exitCode, 3);
  EXPECT_NE(garbage.output.find("0x80093102"), std::string::npos) << garbage.output;

  EXPECT_EQ(Show(T::ShellQuote((dir / "missing.tsr").string())).exitCode, 2);
  EXPECT_EQ(Show("").exitCode, 1);
  EXPECT_EQ(Show("--bogus x").exitCode, 1);
}
