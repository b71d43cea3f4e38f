// horodex-view and `horodex view` run as the desktop runs them, answered through their automation
// variable, and the desktop files installed beside them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/tsp_fixtures.h"

namespace T = Velmora::Testing;

namespace {

const std::string kView = std::string(HORODEX_BINARY_DIR) + "/tools/horodex-view/horodex-view";
const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";
const std::string kSources = std::string(HORODEX_SOURCE_DIR) + "/tools/horodex-view/";

// Runs `program` with automation on, bounded in time so that a sheet left open fails the test
// instead of holding it.
T::CommandResult View(const std::string& program, const std::string& file) {
  return T::RunCommand("HORODEX_VIEW_AUTOMATION=1 QT_QPA_PLATFORM=offscreen timeout 60 " + program +
                       " " + T::ShellQuote(file) + " 2>&1");
}

std::string Copy(const T::TempDir& dir, const std::string& fixture, const std::string& name) {
  T::WriteFileBytes(dir / name, T::ReadFileBytes(T::OpenSslTsaDir() / fixture));
  return (dir / name).string();
}

}  // namespace

TEST(HorodexView, OpensByExtensionOrContent) {
  T::TempDir dir;
  const std::string request = Copy(dir, "q-full.tsq", "q.tsq");
  const std::string stamp = Copy(dir, "rsa-full.tsr", "Stamp.TSR");
  const std::string requestNoExtension = Copy(dir, "q-full.tsq", "request");
  const std::string token = Copy(dir, "ec-bare.tst", "token.tst");
  const std::string garbage = Copy(dir, "q-full.tsq", "q.tsr");  // a request named as a stamp

  for (const std::string& program : {kView, kTool + " view"}) {
    for (const std::string& file : {request, requestNoExtension}) {
      const T::CommandResult r = View(program, file);
      EXPECT_EQ(r.exitCode, 0) << program << " " << file << "\n" << r.output;
      // The sheet's title names the file; a request's page has its six fields.
      const std::string name = std::filesystem::path(file).filename().string();
      EXPECT_TRUE(Has(r, "sheet: " + name + ": 6 rows, 1 pages")) << r.output;
    }
    for (const std::string& file : {stamp, token}) {
      const T::CommandResult r = View(program, file);
      EXPECT_EQ(r.exitCode, 0) << program << " " << file << "\n" << r.output;
      const std::string name = std::filesystem::path(file).filename().string();
      EXPECT_TRUE(Has(r, "sheet: " + name + ": ")) << r.output;
      EXPECT_FALSE(Has(r, ": 6 rows")) << r.output;
    }
    const T::CommandResult missing = View(program, (dir / "missing.tsr").string());
    EXPECT_EQ(missing.exitCode, 2) << missing.output;
    EXPECT_TRUE(
        Has(missing, "message box: Velmora TSP Client: The system cannot find the file specified."))
        << missing.output;
    const T::CommandResult wrong = View(program, garbage);
    EXPECT_EQ(wrong.exitCode, 2) << wrong.output;
    EXPECT_FALSE(Has(wrong, "sheet:")) << wrong.output;
  }
  EXPECT_EQ(T::RunCommand(kView + " 2>&1").exitCode, 1);
}

// A CMS signature shows one page per time stamp of any of its signers, with or without its
// extension; one without time stamps gets a box that says so.
TEST(HorodexView, ShowsTheTimeStampsOfASignature) {
  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
  const auto pki = [&tsa](const char* name) { return T::ShellQuote(tsa.File(name).string()); };
  const std::string at = T::ShellQuote(dir.path().string()) + "/";
  const std::string stamp = kTool + " stamp --tsa " + tsa.Url() + " --ca " + pki("ca.pem");
  // Two signers: the first stamped once, the second twice.
  const T::CommandResult made = T::RunCommand(
      "openssl cms -sign -binary -nodetach -md sha256 -outform DER -in " + pki("ca.pem") +
      " -signer " + pki("client.pem") + " -inkey " + pki("client.key") + " -signer " +
      pki("stranger-client.pem") + " -inkey " + pki("stranger-client.key") + " -out " + at +
      "bare.p7s && " + stamp + " --signature " + at + "bare.p7s --signer 0 --signer 1 -o " + at +
      "once.p7s && " + stamp + " --signature " + at + "once.p7s --signer 1 -o " + at +
      "signed 2>&1");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const struct {
    std::string file, shown;
    int exitCode;
  } rows[] = {
      {"signed", " rows, 3 pages", 0},
      {"bare.p7s", "message box: Velmora TSP Client: The signature carries no time stamp.", 2},
  };
  for (const auto& row : rows) {
    const T::CommandResult r = View(kView, (dir / row.file).string());
    EXPECT_EQ(r.exitCode, row.exitCode) << row.file << "\n" << r.output;
    EXPECT_TRUE(Has(r, row.shown)) << row.file << "\n" << r.output;
    EXPECT_EQ(Has(r, "sheet: " + row.file + ": "), row.exitCode == 0) << r.output;
  }
}

TEST(HorodexView, DesktopFilesValidateAndInstall) {
  if (T::RunCommand("command -v desktop-file-validate").exitCode != 0) {
    GTEST_SKIP() << "desktop-file-validate is missing (scripts/setup installs desktop-file-utils)";
  }
  const T::CommandResult desktop =
      T::RunCommand("desktop-file-validate " + kSources + "horodex-view.desktop 2>&1");
  EXPECT_EQ(desktop.exitCode, 0) << desktop.output;
  EXPECT_EQ(desktop.output, "");

  // Installed by the folder's own rules, and read by the shared MIME database's compiler.
  T::TempDir prefix;
  const T::CommandResult install =
      T::RunCommand("cmake -DCMAKE_INSTALL_PREFIX=" + T::ShellQuote(prefix.path().string()) +
                    " -P " + HORODEX_BINARY_DIR + "/tools/horodex-view/cmake_install.cmake 2>&1");
  ASSERT_EQ(install.exitCode, 0) << install.output;
  const auto share = prefix / "share";
  EXPECT_TRUE(std::filesystem::exists(prefix / "bin" / "horodex-view"));
  EXPECT_TRUE(std::filesystem::exists(share / "applications" / "horodex-view.desktop"));
  const T::CommandResult mime =
      T::RunCommand("update-mime-database " + T::ShellQuote((share / "mime").string()) + " 2>&1");
  ASSERT_EQ(mime.exitCode, 0) << mime.output;
  const std::string globs = T::ReadFileText(share / "mime" / "globs2");
  EXPECT_NE(globs.find("application/timestamp-query:*.tsq"), std::string::npos) << globs;
  EXPECT_NE(globs.find("application/timestamp-reply:*.tsr"), std::string::npos) << globs;
}
