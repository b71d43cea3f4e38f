// horodex ers against the local TSA: batches of files under one request each, every record
// verifying against its own file and no other; a batch that cannot be sent whole (a name clash,
// a file missing, a TSA that refuses) writes nothing; a record renewed by time stamp and then by
// hash tree, through a TSA that demands credentials and into a new folder; a list of paths read
// NUL-separated.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;
namespace fs = std::filesystem;

namespace {

// Run under the C locale: the system's reasons are read in English, whatever the machine's
// language.
const std::string kTool =
    "LC_ALL=C.UTF-8 " + std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

class HorodexErsTest : public ::testing::Test {
 protected:
  HorodexErsTest() { setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1); }
  ~HorodexErsTest() override { unsetenv("XDG_DATA_HOME"); }

  static std::string Q(const fs::path& path) { return T::ShellQuote(path.string()); }
  std::string Ca() const { return " --ca " + Q(tsa.File("ca.pem")); }
  fs::path File(std::size_t i) const { return dir / "in" / ("file" + std::to_string(i) + ".txt"); }
  void MakeFiles(std::size_t count) {
    fs::create_directories(dir / "in");
    for (std::size_t i = 0; i < count; ++i) {
      const std::string text = "contents of file " + std::to_string(i) + "\n";
      T::WriteFileBytes(File(i), std::vector<unsigned char>(text.begin(), text.end()));
    }
  }
  T::CommandResult Run(const std::string& arguments) {
    return T::RunCommand(kTool + " " + arguments + " 2>&1");
  }
  T::CommandResult Verify(const fs::path& record, const fs::path& data) {
    return Run("verify " + Q(record) + " --data " + Q(data) + Ca());
  }
  std::size_t Posted() const { return tsa.Requests().size(); }

  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
};

TEST_F(HorodexErsTest, OneRequestPerBatchAndEveryRecordProvesItsOwnFileOnly) {
  MakeFiles(50);  // the library test takes a thousand leaves; here the tool's own paths
  for (const std::size_t count : {1u, 2u, 3u, 50u}) {
    const fs::path out = dir / ("out" + std::to_string(count));
    const std::size_t before = Posted();
    T::CommandResult made;
    if (count < 50) {
      std::string files;
      for (std::size_t i = 0; i < count; ++i) {
        files += " " + Q(File(i));
      }
      made = Run("stamp --evidence" + files + " --tsa " + tsa.Url("/") + " --cert-req" + Ca() +
                 " -o " + Q(out));
    } else {  // a long list from a file, NUL-separated
      std::vector<unsigned char> list;
      for (std::size_t i = 0; i < count; ++i) {
        const std::string path = File(i).string();
        list.insert(list.end(), path.begin(), path.end());
        list.push_back(0);
      }
      T::WriteFileBytes(dir / "list", list);
      made = Run("ers stamp --files-from " + Q(dir / "list") + " -0 --tsa " + tsa.Url("/") + Ca() +
                 " -o " + Q(out));
    }
    ASSERT_EQ(made.exitCode, 0) << made.output;
    EXPECT_EQ(Posted(), before + 1) << count << " files";
    for (std::size_t i = 0; i<count; i += count> 3 ? 17 : 1) {
      const fs::path record = out / ("file" + std::to_string(i) + ".txt.ers");
      const auto good = Verify(record, File(i));
      EXPECT_EQ(good.exitCode, 0) << good.output;
      const auto other = Verify(record, File(i + 1));
      EXPECT_EQ(other.exitCode, 20) << other.output;
      EXPECT_TRUE(Has(other, "path: FAILED 0x80091007")) << other.output;
    }
  }
}

TEST_F(HorodexErsTest, ABatchThatCannotGoWholeWritesNothing) {
  MakeFiles(2);
  fs::create_directories(dir / "other");
  T::WriteFileBytes(dir / "other" / "file0.txt", {'x'});
  struct Case {
    const char* name;
    std::string arguments;
    int exitCode;
    const char* says;
  };
  const std::string files = Q(File(0)) + " " + Q(File(1));
  const std::vector<Case> cases = {
      {"name clash", files + " " + Q(dir / "other" / "file0.txt") + " --tsa " + tsa.Url("/"), 1,
       "would both be written"},
      {"file missing", files + " " + Q(dir / "gone.txt") + " --tsa " + tsa.Url("/"), 2,
       "gone.txt: No such file or directory"},
      {"TSA refuses", files + " --tsa " + tsa.Url("/reject/badAlg/"), 12, "no record written"},
      {"stamp does not verify", files + " --tsa " + tsa.Url("/otherdata/"), 13,
       "no record written"},
  };
  for (const Case& c : cases) {
    const fs::path out = dir / "out";
    const std::size_t before = Posted();
    const auto run = Run("ers stamp " + c.arguments + Ca() + " -o " + Q(out));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << "\n" << run.output;
    EXPECT_TRUE(Has(run, c.says)) << c.name << "\n" << run.output;
    EXPECT_FALSE(fs::exists(out) && !fs::is_empty(out)) << c.name;
    if (c.exitCode < 10) {
      EXPECT_EQ(Posted(), before) << c.name << ": nothing sent";
    }
  }
}

TEST_F(HorodexErsTest, RenewedByTimeStampThenByHashTreeAndShown) {
  MakeFiles(3);
  const std::string files = Q(File(0)) + " " + Q(File(1)) + " " + Q(File(2));
  // Every option of plain stamp: here credentials for a TSA that demands them.
  const std::string basic = " --tsa " + tsa.Url("/basic/") + Ca() +
                            " --user tsa-user --password tsa-pass --auth basic --no-nonce";
  const auto stamped =
      Run("ers stamp " + files + " --hash sha1 --json" + basic + " -o " + Q(dir / "out"));
  ASSERT_EQ(stamped.exitCode, 0) << stamped.output;
  EXPECT_TRUE(Has(stamped, "{\"stamped\": 3,")) << stamped.output;
  const fs::path record = dir / "out" / "file1.txt.ers";
  // renew -o makes its folder, as ers stamp does.
  const auto renewedApart = Run("renew " + Q(record) + basic + " -o " + Q(dir / "new" / "dir"));
  ASSERT_EQ(renewedApart.exitCode, 0) << renewedApart.output;
  EXPECT_EQ(Verify(dir / "new" / "dir" / "file1.txt.ers", File(1)).exitCode, 0);
  const auto timeStamp = Run("renew " + Q(record) + " --tsa " + tsa.Url("/") + Ca());
  ASSERT_EQ(timeStamp.exitCode, 0) << timeStamp.output;
  const auto hashTree = Run("renew " + Q(record) + " --hash sha256 --data " + Q(File(1)) +
                            " --tsa " + tsa.Url("/") + Ca());
  ASSERT_EQ(hashTree.exitCode, 0) << hashTree.output;
  const auto verified = Verify(record, File(1));
  EXPECT_EQ(verified.exitCode, 0) << verified.output;
  for (const char* stage : {"chain 1 stamp 2: order: ok", "chain 2 stamp 1: path: ok"}) {
    EXPECT_TRUE(Has(verified, stage)) << verified.output;
  }
  EXPECT_EQ(Verify(record, File(2)).exitCode, 20);
  const auto shown = Run("show --json " + Q(record));
  EXPECT_EQ(shown.exitCode, 0) << shown.output;
  EXPECT_NE(
      shown.output.find("\"digestAlgorithms\": [{\"oid\": \"1.3.14.3.2.26\", \"name\": \"sha1\"}, "
                        "{\"oid\": \"2.16.840.1.101.3.4.2.1\", \"name\": \"sha256\"}]"),
      std::string::npos)
      << shown.output;
}

}  // namespace
