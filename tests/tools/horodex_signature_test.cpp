// `horodex stamp --signature`, `verify` and `show` on CMS signatures as a user runs them: with
// default options at our test TSA and at OpenSSL's, their roots trusted by the machine's "Root"
// folder; OpenSSL still verifies the stamped signature. A signature that cannot be stamped, a
// refusing TSA and a stamp over other bytes each give their exit code and a line naming the
// signer, and no output file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/openssl_http_tsa.h"
#include "tests/common/scratch.h"
#include "tests/common/signature_stamps.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/token_forge.h"

namespace T = Velmora::Testing;
namespace fs = std::filesystem;

namespace {

const std::string kTool = T::ShellQuote(std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex");

class HorodexSignature : public ::testing::Test {
 protected:
  void SetUp() override {
    T::ConfigEnvironment::Write(dir / "doc.txt", "signed and stamped\n");
    // The signers are the test TSA's client and server certificates, under the TSA's own root.
    for (const auto& [name, root] : {std::pair{"testtsa", ours.File("ca.pem")},
                                     std::pair{"openssl", T::OpenSslHttpTsa::Root()}}) {
      const fs::path trusted =
          env.root() / "etc/velmora/certstores/Root" / (name + std::string(".pem"));
      fs::create_directories(trusted.parent_path());
      fs::copy_file(root, trusted);
    }
    std::string signers;
    for (const char* name : {"client", "server"}) {
      signers += " -signer " + T::ShellQuote(ours.File(name + std::string(".pem")).string()) +
                 " -inkey " + T::ShellQuote(ours.File(name + std::string(".key")).string());
    }
    const T::CommandResult signed_ =
        T::RunCommand("openssl cms -sign -binary -nodetach -md sha256 -outform DER -in " +
                      Q("doc.txt") + signers + " -out " + Q("sig.p7s") + " 2>&1");
    ASSERT_EQ(signed_.exitCode, 0) << signed_.output;
  }
  std::string Q(const std::string& name) const { return T::ShellQuote((dir / name).string()); }
  T::CommandResult Tool(const std::string& arguments) const {
    return T::RunCommand(kTool + " " + arguments + " 2>&1");
  }

  T::ConfigEnvironment env;
  T::TempDir dir;
  const T::TestTsaProcess ours;
};

TEST_F(HorodexSignature, StampedWithDefaultOptionsAtBothTsasVerifiesHereAndInOpenSsl) {
  const T::OpenSslHttpTsa theirs;
  for (const auto& [name, url] :
       {std::pair{"testtsa", ours.Url("/")}, std::pair{"openssl", theirs.Url()}}) {
    SCOPED_TRACE(name);
    const std::string out = Q(std::string(name) + ".p7s");
    const T::CommandResult stamped =
        Tool("stamp --signature " + Q("sig.p7s") + " --tsa " + url + " -o " + out);
    ASSERT_EQ(stamped.exitCode, 0) << stamped.output;
    EXPECT_TRUE(T::Has(stamped, "signer 1 (")) << stamped.output;  // every signer by default
    const T::CommandResult openssl = T::RunCommand(
        "openssl cms -verify -binary -purpose any -inform DER -in " + out + " -CAfile " +
        T::ShellQuote(ours.File("ca.pem").string()) + " -out /dev/null 2>&1");
    EXPECT_EQ(openssl.exitCode, 0) << openssl.output;
    const T::CommandResult verified = Tool("verify " + out);
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    EXPECT_TRUE(T::Has(verified, "signer 1 (")) << verified.output;
    EXPECT_NE(verified.output.find("stamp 1: ok"), verified.output.rfind("stamp 1: ok"))
        << verified.output;  // one per signer
    EXPECT_TRUE(T::Has(verified, "the earliest stamp's time")) << verified.output;
    EXPECT_TRUE(T::Has(Tool("show " + out), "stamp 1: "));
  }
}

TEST_F(HorodexSignature, FailuresNameTheSignerAndWriteNothing) {
  T::Forge::TokenSpec spec;  // a signer with an empty signature value
  spec.tstInfo = {0x04, 0x01, 0x41};
  spec.eContentType = T::Forge::kIdData;
  spec.signatureValue = Velmora::CBlob();
  T::WriteFileBytes(dir / "empty.p7s", T::Forge::ForgeToken(spec).bytes());
  // A stamp over other bytes, put under the signer by hand.
  ASSERT_EQ(
      Tool("stamp " + Q("doc.txt") + " --tsa " + ours.Url("/") + " -o " + Q("doc.tsr")).exitCode,
      0);
  {
    Velmora::PKI::TSP::Client::CStamp stamp;
    const std::vector<unsigned char> response = T::ReadFileBytes(dir / "doc.tsr");
    stamp.Import(response.data(), static_cast<unsigned long>(response.size()), nullptr);
    T::WriteFileBytes(dir / "other.p7s",
                      T::WithSignatureStamp(Velmora::CBlob(T::ReadFileBytes(dir / "sig.p7s")), 0,
                                            T::TokenOf(stamp))
                          .bytes());
  }
  const struct {
    std::string arguments;
    int exit;
    const char* says;
  } rows[] = {
      {"stamp --signature " + Q("empty.p7s") + " --tsa " + ours.Url("/") + " -o " + Q("x.p7s"), 3,
       "signer 0 (serial number "},
      {"stamp --signature " + Q("sig.p7s") + " --tsa " + ours.Url("/reject/badAlg/") + " -o " +
           Q("x.p7s"),
       12, "signer 0 (CN="},
      {"stamp --signature " + Q("doc.txt") + " --tsa " + ours.Url("/") + " -o " + Q("x.p7s"), 3,
       "is not a CMS signature"},
      {"verify " + Q("sig.p7s") + " --signature-only", 1, "unexpected argument"},
      {"verify " + Q("other.p7s"), 20, "stamp 1: failed 0xC2100140"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments);
    const T::CommandResult run = Tool(row.arguments);
    EXPECT_EQ(run.exitCode, row.exit) << run.output;
    EXPECT_TRUE(T::Has(run, row.says)) << run.output;
    EXPECT_FALSE(fs::exists(dir / "x.p7s"));
  }
}

}  // namespace
