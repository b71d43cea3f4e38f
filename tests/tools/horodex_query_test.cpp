// horodex query: requests for files and hash values that OpenSSL reads back as meant, and clear
// refusals of bad arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"

namespace T = Velmora::Testing;

namespace {

// Run under the C locale: the system's reasons are read in English, whatever the machine's
// language.
const std::string kTool =
    "LC_ALL=C.UTF-8 " + std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

class HorodexQueryTest : public ::testing::Test {
 protected:
  T::ConfigEnvironment env;
  T::TempDir dir;

  T::CommandResult Query(const std::string& args) {
    return T::RunCommand(kTool + " query " + args);
  }
  // OpenSSL's reading of a request file.
  T::CommandResult Read(const std::string& name, const std::string& form = "") {
    return T::RunCommand("openssl ts -query -in " + T::ShellQuote((dir / name).string()) + form +
                         " -text 2>&1");
  }
};

TEST_F(HorodexQueryTest, FileHashedAndOptionsApplied) {
  // 3 MiB: more than one piece of the file reader.
  std::vector<unsigned char> data(3u << 20);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<unsigned char>(i * 31 + 7);
  }
  T::WriteFileBytes(dir / "data.bin", data);
  const std::string out = T::ShellQuote((dir / "q.tsq").string());
  const auto made = Query(T::ShellQuote((dir / "data.bin").string()) +
                          " --hash SHA-512 --policy 1.2.3.4 --cert-req -o " + out);
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const auto read = Read("q.tsq");
  ASSERT_EQ(read.exitCode, 0) << read.output;
  EXPECT_TRUE(Has(read, "Hash Algorithm: sha512")) << read.output;
  EXPECT_TRUE(Has(read, "Policy OID: 1.2.3.4"));
  EXPECT_TRUE(Has(read, "Certificate required: yes"));
  EXPECT_TRUE(Has(read, "Nonce: 0x"));
  // The imprint is the one OpenSSL computes for the same file.
  const std::string imprint = " -text 2>/dev/null | grep -A4 'Message data'";
  const auto theirs = T::RunCommand("openssl ts -query -sha512 -no_nonce -data " +
                                    T::ShellQuote((dir / "data.bin").string()) + imprint);
  const auto ours = T::RunCommand("openssl ts -query -in " + out + imprint);
  EXPECT_EQ(ours.output, theirs.output);
  EXPECT_TRUE(Has(ours, "0030 - "));  // 64 bytes shown
}

TEST_F(HorodexQueryTest, DigestAndBase64) {
  const std::string sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const auto made = Query("--digest " + sha256 +
                          " --hash 2.16.840.1.101.3.4.2.1 --no-nonce "
                          "--base64 -o " +
                          T::ShellQuote((dir / "q.b64").string()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const auto decoded =
      T::RunCommand("openssl base64 -d -in " + T::ShellQuote((dir / "q.b64").string()) + " -out " +
                    T::ShellQuote((dir / "q.tsq").string()));
  ASSERT_EQ(decoded.exitCode, 0);
  const auto read = Read("q.tsq");
  EXPECT_TRUE(Has(read, "Nonce: unspecified")) << read.output;
  EXPECT_TRUE(Has(read, "ba 78 16 bf")) << read.output;
}

TEST_F(HorodexQueryTest, BadArgumentsRefused) {
  const std::string out = " -o " + T::ShellQuote((dir / "x.tsq").string());
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"--digest abcd --hash sha256" + out, "has 2 bytes, but"},
      {"--digest xyz1" + out, "hex digits"},
      {"--digest 00 --hash md7" + out, "unknown hash algorithm"},
      {"--no-such-option x" + out, "unknown option"},
      {T::ShellQuote((dir / "missing").string()) + out, "missing: No such file or directory"},
      {T::ShellQuote((dir / "missing").string()), "usage"},
      {"--digest " + std::string(40, '0') + " --hash 1.3.14.3.2.26 --policy 1..2" + out,
       "cannot make the request"},
  };
  for (const auto& c : cases) {
    const auto result = Query(c.args);
    EXPECT_NE(result.exitCode, 0) << c.args;
    EXPECT_TRUE(Has(result, c.message)) << c.args << "\n" << result.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.tsq"));
}

}  // namespace
