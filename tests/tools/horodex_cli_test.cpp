// horodex as a Linux user meets it, against horodex-testtsa: the default hash and the weak-hash
// warning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

class HorodexCliTest : public ::testing::Test {
 protected:
  HorodexCliTest() {
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    T::WriteFileBytes(dir / "doc.txt", {'d', 'o', 'c'});
  }
  ~HorodexCliTest() override { unsetenv("XDG_DATA_HOME"); }

  // horodex with `args`, "%D" standing for the scratch folder and "%T" for the test TSA's URL.
  T::CommandResult Run(std::string args) {
    for (const auto& [mark, value] :
         {std::pair{"%D", dir.path().string()}, std::pair{"%T", tsa.Url("/")}}) {
      for (auto at = args.find(mark); at != std::string::npos; at = args.find(mark)) {
        args.replace(at, 2, value);
      }
    }
    return T::RunCommand(kTool + " " + args + " 2>&1");
  }

  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
};

TEST_F(HorodexCliTest, Sha256ByDefaultAndWeakHashesWarned) {
  T::ConfigEnvironment::Write(env.machineHive(),  // SHA-256 where no GOST module is loaded
                              "Windows Registry Editor Version 5.00\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP]\n"
                              "\"DisableGOST\"=dword:1\n");
  const struct {
    std::string args;
    std::string algorithm;  // as `horodex show` names it
    bool warned;
  } cases[] = {
      {"query %D/doc.txt -o %D/q.tsq", "2.16.840.1.101.3.4.2.1", false},
      {"query %D/doc.txt --hash sha1 -o %D/q.tsq", "1.3.14.3.2.26", true},
      {"query %D/doc.txt --hash MD5 -o %D/q.tsq", "1.2.840.113549.2.5", true},
      {"stamp %D/doc.txt --tsa %T --no-verify -o %D/q.tsq", "2.16.840.1.101.3.4.2.1", false},
      {"stamp %D/doc.txt --tsa %T --no-verify --hash sha1 -o %D/q.tsq", "1.3.14.3.2.26", true},
  };
  for (const auto& c : cases) {
    const auto made = Run(c.args);
    ASSERT_EQ(made.exitCode, 0) << c.args << "\n" << made.output;
    EXPECT_EQ(made.output.find("warning: ") != std::string::npos, c.warned) << made.output;
    const auto shown = Run("show %D/q.tsq");
    EXPECT_NE(shown.output.find(c.algorithm), std::string::npos) << c.args << "\n" << shown.output;
  }
}

}  // namespace
