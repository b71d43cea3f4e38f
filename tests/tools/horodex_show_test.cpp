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

TEST(HorodexShow, GrantedRejectedAndBareTokens) {
  const T::CommandResult granted = Show(Fixture("rsa-full.tsr"));
  ASSERT_EQ(granted.exitCode, 0) << granted.output;
  EXPECT_TRUE(Has(granted, "Status name:"));
  EXPECT_TRUE(Has(granted, "granted"));
  EXPECT_TRUE(Has(granted, "Time:"));
  EXPECT_TRUE(Has(granted, "1.2.840.113549.1.1.1 (RSA)")) << granted.output;

  const T::CommandResult rejected = Show("--json " + Fixture("rejected-alg.tsr"));
  ASSERT_EQ(rejected.exitCode, 0) << rejected.output;
  EXPECT_TRUE(Has(rejected, R"("statusName": "rejection")"));
  EXPECT_TRUE(Has(rejected, R"("failureInfo": "badAlg")")) << rejected.output;
  EXPECT_TRUE(Has(rejected, R"("time": null)")) << rejected.output;

  const T::CommandResult bare = Show("--json " + Fixture("ec-bare.tst"));
  ASSERT_EQ(bare.exitCode, 0) << bare.output;
  EXPECT_TRUE(Has(bare, R"("type": "time-stamp token")"));
  EXPECT_TRUE(Has(bare, R"("nonce": null)"));
}

TEST(HorodexShow, EveryFieldOfAnImportedStamp) {
  const T::CommandResult r = Show("--json " + Fixture("rsa-full.tsr"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const char* const expected[] = {
      R"("status": 0)",
      R"("statusText": null)",
      R"("failureInfo": null)",
      R"("policy": "1.2.3.4.5")",
      R"("accuracyMicroseconds": 1500100)",
      R"("ordering": true)",
      R"("tsa": "CN=TSA rsa, O=Horodex Test, C=DE")",
      R"x("hashAlgorithm": {"oid": "2.16.840.1.101.3.4.2.1", "name": "sha256"})x",
      R"("certificates": 2)",
  };
  for (const char* field : expected) {
    EXPECT_TRUE(Has(r, field)) << field << "\n" << r.output;
  }
  // Time to the microsecond; the nonce, serial number and hash as hexadecimal.
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex(R"("time": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(\d{3})?Z")")));
  EXPECT_TRUE(std::regex_search(r.output, std::regex(R"("nonce": "[0-9A-F]{2,}")")));
  EXPECT_TRUE(std::regex_search(r.output, std::regex(R"("serialNumber": "[0-9A-F]{2,}")")));
  EXPECT_TRUE(std::regex_search(r.output, std::regex(R"("hashValue": "[0-9A-F]{64}")")));
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
  EXPECT_TRUE(Has(garbage, "0x80093102")) << garbage.output;

  EXPECT_EQ(Show(T::ShellQuote((dir / "missing.tsr").string())).exitCode, 2);
  EXPECT_EQ(Show("").exitCode, 1);
  EXPECT_EQ(Show("--bogus x").exitCode, 1);
}
