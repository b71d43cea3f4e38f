// The main job as a new user types it: `horodex stamp FILE --tsa URL -o OUT` with no other option,
// against our test TSA and against OpenSSL's own responder behind HTTP, each root trusted by the
// machine's "Root" store folder; the stamp verifies by the tool and by `openssl ts -verify`, with a
// clean revocation line for our TSA, whose certificate names its CA's CRL and OCSP responder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/child_process.h"
#include "tests/common/hive_env.h"
#include "tests/common/openssl_http_tsa.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/tsp_fixtures.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = T::ShellQuote(std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex");

using T::OpenSslHttpTsa;

TEST(HorodexMainJob, StampWithNoOptionVerifiesHereAndInOpenSsl) {
  T::ConfigEnvironment env;
  T::TempDir dir;
  T::ConfigEnvironment::Write(dir / "data.txt", "the main job\n");
  const T::TestTsaProcess ours;
  const OpenSslHttpTsa theirs;
  const struct {
    const char* name;
    std::string url;
    std::filesystem::path root;
  } tsas[] = {{"testtsa", ours.Url("/"), ours.File("ca.pem")},
              {"openssl", theirs.Url(), OpenSslHttpTsa::Root()}};
  for (const auto& tsa : tsas) {
    const std::filesystem::path trusted =
        env.root() / "etc/velmora/certstores/Root" / (std::string(tsa.name) + ".pem");
    std::filesystem::create_directories(trusted.parent_path());
    std::filesystem::copy_file(tsa.root, trusted);
    const std::string data = T::ShellQuote((dir / "data.txt").string());
    const std::string out = T::ShellQuote((dir / (std::string(tsa.name) + ".tsr")).string());
    const T::CommandResult stamped =
        T::RunCommand(kTool + " stamp " + data + " --tsa " + tsa.url + " -o " + out + " 2>&1");
    EXPECT_EQ(stamped.exitCode, 0) << tsa.name << "\n" << stamped.output;
    // Our test TSA's certificate names its CA's CRL and OCSP responder: the demo reads "good".
    if (tsa.url == ours.Url("/")) {
      EXPECT_TRUE(T::Has(stamped, ": good (")) << stamped.output;
      EXPECT_FALSE(T::Has(stamped, "unknown")) << stamped.output;
    }
    const T::CommandResult checked =
        T::RunCommand("openssl ts -verify -in " + out + " -data " + data + " -CAfile " +
                      T::ShellQuote(tsa.root.string()) + " 2>&1");
    EXPECT_TRUE(T::Has(checked, "Verification: OK")) << tsa.name << "\n" << checked.output;
  }
}

TEST(HorodexMainJob, TestTsaHelpPrintsItsUsage) {
  const T::CommandResult help = T::RunCommand(T::ShellQuote(T::TestTsaProgram()) + " --help");
  EXPECT_EQ(help.exitCode, 0) << help.output;
  EXPECT_TRUE(T::Has(help, "usage: horodex-testtsa")) << help.output;
}

}  // namespace
