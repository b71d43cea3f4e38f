// What a user sees when something is wrong, command by command: the exit code, the stream the
// words go to (results on standard output, failures on standard error), and the words that say
// what went wrong and to what. Also '-' for standard input and output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;

namespace {

// The system's reasons ("No such file or directory") are read in English, whatever the machine's
// language: the tool is run under the C locale.
const std::string kTool =
    "LC_ALL=C.UTF-8 " + T::ShellQuote(std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex");

std::string Q(const std::filesystem::path& path) {
  return T::ShellQuote(path.string());
}

TEST(HorodexErrors, EachFailureSaysWhatAndToWhatOnTheRightStream) {
  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);  // no root of the user's trusted
  T::WriteFileBytes(dir / "doc.txt", {'d', 'o', 'c'});
  std::filesystem::create_directory(dir / "folder");
  const std::string doc = Q(dir / "doc.txt");
  const std::string ca = " --ca " + Q(tsa.File("ca.pem"));
  const auto stamp = [&](const std::string& path, const std::string& rest) {
    return "stamp " + doc + " --tsa " + tsa.Url(path) + " " + rest;
  };
  ASSERT_EQ(T::RunCommand(kTool + " query " + doc + " -o " + Q(dir / "q.tsq")).exitCode, 0);
  ASSERT_EQ(T::RunCommand(kTool + " " + stamp("/", ca + " -o " + Q(dir / "s.tsr"))).exitCode, 0);

  enum Stream { kOut, kErr };
  const struct {
    std::string command;  // after the tool's name; "| ..." pipes its standard output on
    int exit;
    Stream stream;
    std::string words;
  } cases[] = {
      {"show " + Q(dir / "folder"), 2, kErr,
       "cannot read " + (dir / "folder").string() + ": Is a directory"},
      {"show " + Q(dir / "none.tsr"), 2, kErr, "none.tsr: No such file or directory"},
      {"verify " + Q(dir / "doc.txt.none") + " --data " + doc, 2, kErr,
       "No such file or directory"},
      {"verify " + Q(dir / "q.tsq") + " --data " + doc, 3, kOut,
       "q.tsq is a time-stamp request, not a stamp"},
      {"verify " + Q(dir / "s.tsr") + " --data " + doc + " --ca " + doc, 2, kErr,
       "--ca " + (dir / "doc.txt").string() + " holds no certificate"},
      {"verify " + Q(dir / "s.tsr") + " --data " + doc + ca, 0, kOut, "chain: ok"},
      {stamp("/reject/badAlg/", "-o " + Q(dir / "x.tsr")), 12, kErr, "badAlg\n"},
      {stamp("/basic/", "-o " + Q(dir / "x.tsr")), 11, kErr, "give them with --user U"},
      {stamp("/", "-o " + Q(dir / "x.tsr")), 14, kErr, "name its certificate with --ca FILE"},
      {stamp("/", "-o " + doc), 1, kErr, "is an input file too; nothing was done"},
      {stamp("/", ca + " --crl " + Q(dir / "q.tsq") + " -o " + Q(dir / "q.tsq")), 1, kErr,
       "is an input file too"},
      {stamp("/", "-o " + Q(dir / "missing" / "x.tsr")), 2, kErr,
       "cannot write " + (dir / "missing" / "x.tsr").string() + ": No such file or directory"},
      {stamp("/", "-o " + Q(dir / "folder")), 2, kErr, "Is a directory; nothing was done"},
      {stamp("/", ca + " -o " + Q(dir / "y.tsr")), 0, kOut, "verified\n"},
      {"stamp - --tsa " + tsa.Url("/") + ca + " -o - < " + doc +
           " | openssl ts -reply -in /dev/stdin -text",
       0, kOut, "Status: Granted."},
      {"query - -o - < " + doc + " | openssl ts -query -in /dev/stdin -text", 0, kOut,
       "Hash Algorithm: sha256"},
  };
  for (const auto& c : cases) {
    // Only the stream the case names reaches the output read here (a pipe's last command's).
    const bool piped = c.command.find(" | ") != std::string::npos;
    const std::string redirect = piped              ? ""
                                 : c.stream == kOut ? " 2>/dev/null"
                                                    : " 2>&1 >/dev/null";
    const T::CommandResult run = T::RunCommand(kTool + " " + c.command + redirect);
    EXPECT_EQ(run.exitCode, c.exit) << c.command << "\n" << run.output;
    EXPECT_TRUE(T::Has(run, c.words)) << c.command << "\n" << run.output;
  }
  // Nothing was sent for a refused output: the TSA saw only the stamps that went through.
  EXPECT_FALSE(std::filesystem::exists(dir / "x.tsr"));
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
