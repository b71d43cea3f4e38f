// horodex-view and `horodex view` run as the desktop runs them, answered through their automation
// variable, and the desktop files installed beside them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/scratch.h"
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
      EXPECT_TRUE(Has(r, "sheet: " + name + ": 6 rows")) << r.output;
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
