// The installed package as an application meets it: `cmake --install` into a temporary prefix
// (its headers the public set alone), a copy of examples/stamp_file built against it with
// find_package(horodex) and with pkg-config, both stamping a file at horodex-testtsa and verifying.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace fs = std::filesystem;
namespace T = Velmora::Testing;

namespace {

fs::path FindFile(const fs::path& root, const std::string& name) {
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename() == name) {
      return entry.path();
    }
  }
  return {};
}

TEST(InstallExample, BuildsAgainstTheInstalledPackageAndStamps) {
  T::TempDir dir;
  const fs::path prefix = dir / "prefix";
  const std::string q = T::ShellQuote(prefix.string());
  const auto installed = T::RunCommand("cmake --install " + T::ShellQuote(HORODEX_BINARY_DIR) +
                                       " --prefix " + q + " 2>&1");
  ASSERT_EQ(installed.exitCode, 0) << installed.output;
  const fs::path library = FindFile(prefix, "libhorodex.so.1");
  ASSERT_FALSE(library.empty()) << installed.output;
  const fs::path libdir = library.parent_path();
  for (const char* file :
       {"libhorodex.so", "horodex.pc", "horodexConfig.cmake", "horodexConfigVersion.cmake",
        "horodexTargets.cmake", "TSPRequest.h", "wincrypt.h", "blob.h", "atl_exception.h",
        "horodex", "horodex-testtsa"}) {
    EXPECT_FALSE(FindFile(prefix, file).empty()) << file;
  }
  // The public set: no header of the DER codec installed or included; each exported one compiles
  // alone from the prefix, so none includes a header left out.
  const fs::path include = prefix / "include/horodex1";
  for (const auto& entry : fs::recursive_directory_iterator(include)) {
    EXPECT_EQ(entry.path().string().find("codec/der"), std::string::npos) << entry.path();
    EXPECT_TRUE(!entry.is_regular_file() ||
                T::ReadFileText(entry.path()).find("codec/der/") == std::string::npos)
        << entry.path() << " includes a header of the DER codec";
  }
  for (const auto& entry : fs::directory_iterator(include / "horodex")) {
    const auto alone = T::RunCommand(
        "c++ -std=c++20 -fsyntax-only -I" + T::ShellQuote(include.string()) + " -include " +
        T::ShellQuote(entry.path().string()) + " -x c++ /dev/null 2>&1");
    EXPECT_EQ(alone.exitCode, 0) << alone.output;
  }

  // The example is built as an application has it, a copy away from the tree with only the
  // prefix to find the library, and with the flags the library was built with, so that a library
  // under the sanitizers finds their runtime in the program.
  const std::string sanitizers = HORODEX_SANITIZER_FLAGS;
  const std::string example = (dir / "example").string();
  fs::copy(fs::path(HORODEX_SOURCE_DIR) / "examples/stamp_file", example);
  const auto configured = T::RunCommand(
      "cmake -S " + T::ShellQuote(example) + " -B " + T::ShellQuote((dir / "build").string()) +
      " -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=" + q + " -DCMAKE_CXX_FLAGS=" +
      T::ShellQuote(sanitizers) + " -DCMAKE_EXE_LINKER_FLAGS=" + T::ShellQuote(sanitizers) +
      " 2>&1 && cmake --build " + T::ShellQuote((dir / "build").string()) + " 2>&1");
  ASSERT_EQ(configured.exitCode, 0) << configured.output;
  const std::string pkgConfigPath = FindFile(prefix, "horodex.pc").parent_path().string();
  const auto viaPkgConfig = T::RunCommand("c++ -std=c++20 -O1 " + sanitizers + " " +
                                          T::ShellQuote(example + "/stamp_file.cpp") + " -o " +
                                          T::ShellQuote((dir / "stamp_file_pc").string()) +
                                          " $(PKG_CONFIG_PATH=" + T::ShellQuote(pkgConfigPath) +
                                          " pkg-config --cflags --libs horodex) 2>&1");
  ASSERT_EQ(viaPkgConfig.exitCode, 0) << viaPkgConfig.output;
  const auto abi =
      T::RunCommand("LD_LIBRARY_PATH=" + T::ShellQuote(libdir.string()) + " " + HORODEX_SOURCE_DIR +
                    "/scripts/abi-check " + T::ShellQuote(library.string()) + " " +
                    T::ShellQuote((dir / "build/stamp_file").string()) + " " +
                    T::ShellQuote((dir / "stamp_file_pc").string()) + " 2>&1");
  EXPECT_EQ(abi.exitCode, 0) << abi.output;

  // A test TSA, its CA trusted through the user's "Root" store folder.
  const fs::path data = dir / "data";
  fs::create_directories(data / "velmora/certstores/Root");
  T::TestTsaProcess server;
  fs::copy_file(server.File("ca.pem"), data / "velmora/certstores/Root/ca.pem");
  T::WriteFileBytes(dir / "document.txt", {'h', 'e', 'l', 'l', 'o'});
  const std::string environment = "XDG_DATA_HOME=" + T::ShellQuote(data.string()) + " ";
  for (const fs::path& program : {dir / "build/stamp_file", dir / "stamp_file_pc"}) {
    // No LD_LIBRARY_PATH: the runtime path that the CMake package and the .pc file give finds
    // the library of this prefix. A hang is bounded here, so that no example outlives the test.
    const auto run = T::RunCommand(environment + "timeout 60 " + T::ShellQuote(program.string()) +
                                   " " + T::ShellQuote((dir / "document.txt").string()) + " " +
                                   server.Url("/") + " 2>&1");
    EXPECT_EQ(run.exitCode, 0) << program << ": " << run.output;
    EXPECT_EQ(run.output.size(), 28u) << run.output;  // 2026-12-06T12:00:00.123000Z and LF
  }
}

}  // namespace
