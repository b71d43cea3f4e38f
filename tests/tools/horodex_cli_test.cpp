// horodex as a Linux user meets it, against horodex-testtsa: the default hash and the weak-hash
// warning, --version and help, -q, colour, and the user's settings file under the command line
// and the administrator's policies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
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

  // `text` with "%D" standing for the scratch folder, "%T" for the test TSA's URL, "%C" for its
  // CA file and "%X" for a URL where nothing answers.
  std::string Expand(std::string text) const {
    for (const auto& [mark, value] :
         {std::pair{"%D", dir.path().string()}, std::pair{"%T", tsa.Url("/")},
          std::pair{"%C", tsa.File("ca.pem").string()}, std::pair{"%X", closed}}) {
      for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark)) {
        text.replace(at, 2, value);
      }
    }
    return text;
  }
  // horodex with `args` (expanded), standard error along with standard output.
  T::CommandResult Run(const std::string& args, const std::string& environment = {}) {
    return T::RunCommand(environment + " " + kTool + " " + Expand(args) + " 2>&1");
  }

  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
  const std::string closed = "http://127.0.0.1:" + std::to_string(T::FreeLoopbackPort()) + "/x/";
};

TEST_F(HorodexCliTest, Sha256ByDefaultAndWeakHashesWarned) {
  env.MachinePolicies("\"DisableGOST\"=dword:1\n");  // SHA-256 where no GOST module is loaded
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
    EXPECT_TRUE(Has(shown, c.algorithm)) << c.args << "\n" << shown.output;
  }
}

TEST_F(HorodexCliTest, VersionHelpQuietAndColour) {
  const auto version = Run("--version");
  EXPECT_EQ(version.exitCode, 0);
  for (const char* part : {"horodex 1.", "libhorodex 1.", "OpenSSL 3.", "libcurl "}) {
    EXPECT_TRUE(Has(version, part)) << part << "\n" << version.output;
  }
  for (const char* command :
       {"show", "query", "stamp", "verify", "compare", "authenticode", "view", "proxy"}) {
    const auto help = Run(std::string("help ") + command);
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_EQ(help.output.rfind(std::string("usage: horodex ") + command, 0), 0u) << help.output;
    EXPECT_EQ(Run(std::string(command) + " --help").output, help.output) << command;
  }
  EXPECT_EQ(Run("help nothing").exitCode, 1);

  // -q: nothing printed, the exit status alone, success and failure alike.
  const auto quiet = Run("-q stamp %D/doc.txt --tsa %T --ca %C --cert-req -o %D/q.tsr");
  EXPECT_EQ(quiet.exitCode, 0) << quiet.output;
  EXPECT_EQ(quiet.output, "");
  const auto failed = Run("verify -q %D/q.tsr --data %D/q.tsr --ca %C");
  EXPECT_EQ(failed.exitCode, 20);
  EXPECT_EQ(failed.output, "");
  const auto value = Run("verify %D/q.tsr --data -q --ca %C");  // a file named -q
  EXPECT_EQ(value.exitCode, 2);
  EXPECT_TRUE(Has(value, "cannot read -q")) << value.output;

  // Colour on a terminal only, and not with NO_COLOR.
  const struct {
    std::string prefix;
    bool coloured;
  } runs[] = {{"", false}, {"script -qec '", true}, {"NO_COLOR=1 script -qec '", false}};
  for (const auto& r : runs) {
    const std::string command = kTool + " verify " + Expand("%D/q.tsr --data %D/doc.txt --ca %C");
    const auto shown = T::RunCommand(r.prefix + command + (r.prefix.empty() ? "" : "' /dev/null"));
    EXPECT_EQ(shown.exitCode, 0) << shown.output;
    EXPECT_TRUE(Has(shown, "chain: ")) << shown.output;
    EXPECT_EQ(shown.output.find("\033[") != std::string::npos, r.coloured) << r.prefix;
  }
}

TEST_F(HorodexCliTest, SettingsFileUnderTheCommandLineAndThePolicies) {
  const auto settings = env.config() / "velmora/horodex.conf";
  const struct {
    std::string file;  // expanded
    std::string args;  // stamp's, after FILE and -o
    int exit;
    std::string shown;  // in the output, expanded
  } cases[] = {
      // The command line wins: its hash, its TSA.
      {"[defaults]\ntsa = %X\nhash = sha512\n", "--hash sha384 --tsa %T --no-verify", 0,
       "\"tsaUrl\": \"%T"},
      {"[Defaults]\ntsa = %T\nhash = sha512\ncert-req = yes\nca = %C\n", "", 0, "\"tsaUrl\": \"%T"},
      // The file's TSAs are tried in turn; cert-req = no leaves the certificate out.
      {"# mine\n[defaults]\ntsa = %X\ntsa = %T\ncert-req = no\nca = %C\n", "", 14, "--cert-req"},
      // Malformed or unknown: the file and line named, nothing sent.
      {"[defaults]\ntsa = %T\nthis is no setting\n", "", 2, "horodex.conf:3: "},
      {"[defaults]\ntsa = %T\nhash = sha999\n", "", 2, "horodex.conf:3: 'hash = sha999'"},
      {"[defaults]\n = x\n", "--tsa %T", 2, "horodex.conf:2: "},
      {"[stamp]\ntsa = %T\n", "", 2, "horodex.conf:2: unknown section [stamp]"},
      {"[defaults]\ntimeout = -3\n", "--tsa %T", 2, "horodex.conf:2: "},
      {"", "", 1, "no TSA"},
  };
  for (const auto& c : cases) {
    T::ConfigEnvironment::Write(settings, Expand(c.file));
    const std::size_t before = tsa.Requests().size();
    const auto r = Run("stamp %D/doc.txt --json -o %D/s.tsr " + c.args);
    EXPECT_EQ(r.exitCode, c.exit) << c.file << "\n" << r.output;
    EXPECT_TRUE(Has(r, Expand(c.shown))) << c.file << "\n" << r.output;
    if (c.exit == 2) {
      EXPECT_EQ(tsa.Requests().size(), before) << c.file;
    }
  }
  T::ConfigEnvironment::Write(settings, Expand("[defaults]\nhash = sha512\ncert-req = yes\n"));
  ASSERT_EQ(Run("query %D/doc.txt -o %D/q.tsq").exitCode, 0);
  EXPECT_NE(Run("show %D/q.tsq").output.find("2.16.840.1.101.3.4.2.3"), std::string::npos);
  ASSERT_EQ(Run("query %D/doc.txt --hash sha256 --no-cert-req -o %D/q.tsq").exitCode, 0);
  EXPECT_NE(Run("show %D/q.tsq").output.find("2.16.840.1.101.3.4.2.1"), std::string::npos);

  // verify takes the file's CA; the administrator's policy refuses the file's hash.
  T::ConfigEnvironment::Write(settings, Expand("[defaults]\nca = %C\nhash = sha512\n"));
  EXPECT_EQ(Run("verify %D/s.tsr --data %D/doc.txt").exitCode, 0);
  env.MachinePolicies(
      "\"HashAlgsDeniedSetted\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\"
      "HashAlgsDenied]\n\"1\"=\"2.16.840.1.101.3.4.2.3\"\n");
  EXPECT_EQ(Run("stamp %D/doc.txt --tsa %T -o %D/p.tsr").exitCode, 10);
  // A settings file that cannot be read.
  std::filesystem::remove(settings);
  std::filesystem::create_directory(settings);
  EXPECT_EQ(Run("verify %D/s.tsr --data %D/doc.txt").exitCode, 2);
}

// The options a help text names: words that begin with "-" after a blank or a bracket.
std::set<std::string> OptionsOf(const std::string& help) {
  std::set<std::string> options;
  const std::regex option(R"((^|[\s\[(|])(--?[a-z][a-z0-9-]*))");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
       it != std::sregex_iterator(); ++it) {
    options.insert((*it)[2]);
  }
  return options;
}

TEST_F(HorodexCliTest, ManPagesAndCompletionInstalledAndInStepWithTheHelp) {
  for (const char* folder : {"tools/horodex", "tools/horodex-view"}) {
    const auto installed =
        T::RunCommand("cmake -DCMAKE_INSTALL_PREFIX=" + Expand("%D/usr") + " -P " +
                      HORODEX_BINARY_DIR + "/" + folder + "/cmake_install.cmake 2>&1");
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
  }
  const std::string share = Expand("%D/usr/share/");
  const struct {
    std::string page;
    std::vector<std::string> helps;  // command lines whose options the page names
  } pages[] = {
      {"horodex.1",
       {"--help", "help show", "help query", "help stamp", "help verify", "help compare",
        "help authenticode", "help view", "help proxy", "help ers", "help renew"}},
      {"horodex-view.1", {}},
  };
  for (const auto& page : pages) {
    const std::string man =
        "LC_ALL=C MANWIDTH=250 man --warnings=w -l " + share + "man/man1/" + page.page;
    EXPECT_EQ(T::RunCommand(man + " 2>&1 >/dev/null").output, "") << page.page;
    // Words broken at a line's end joined again.
    const std::string text =
        std::regex_replace(T::RunCommand(man + " 2>/dev/null").output, std::regex("-\n\\s+"), "-");
    ASSERT_NE(text.find("SYNOPSIS"), std::string::npos) << text;
    for (const std::string& help : page.helps) {
      for (const std::string& option : OptionsOf(Run(help).output)) {
        EXPECT_NE(text.find(option), std::string::npos) << option << " of " << help;
      }
    }
  }

  // The completion script: sourced without a word on standard error; commands, every option of
  // each command's help, values, and files by kind.
  const std::string script = share + "bash-completion/completions/horodex";
  const auto complete = [&](const std::string& line) {
    return T::RunCommand("cd " + Expand("%D/files") + " && bash --norc --noprofile -c " +
                         T::ShellQuote("source " + script +
                                       R"( && read -ra COMP_WORDS <<<"$1" && )"
                                       R"({ [[ $1 != *' ' ]] || COMP_WORDS+=(''); } && )"
                                       R"(COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && )"
                                       R"(_horodex; echo "${COMPREPLY[*]}")") +
                         " _ " + T::ShellQuote(line) + " 2>&1");
  };
  EXPECT_EQ(
      T::RunCommand("bash --norc --noprofile -c 'set -eu; source " + script + "' 2>&1").output, "");
  std::filesystem::create_directory(dir / "files");
  for (const char* name : {"a.tsr", "b.tsq", "c.txt"}) {
    T::WriteFileBytes(dir / "files" / name, {});
  }
  const struct {
    std::string line;
    std::string offered;
  } lines[] = {
      {"horodex st", "stamp\n"},
      {"horodex -q ver", "verify\n"},
      {"horodex verify ", "a.tsr\n"},
      {"horodex show ", "b.tsq a.tsr\n"},
      {"horodex stamp doc.txt --auth n", "none ntlm negotiate\n"},
      {"horodex verify a.tsr --request ", "b.tsq\n"},
  };
  for (const auto& l : lines) {
    EXPECT_EQ(complete(l.line).output, l.offered) << l.line;
  }
  for (const char* command :
       {"show", "query", "stamp", "verify", "compare", "authenticode", "proxy", "renew"}) {
    const std::string offered =
        " " + std::regex_replace(complete(std::string("horodex ") + command + " -").output,
                                 std::regex("\n"), " ");
    for (const std::string& option : OptionsOf(Run(std::string("help ") + command).output)) {
      EXPECT_NE(offered.find(" " + option + " "), std::string::npos) << command << " " << option;
    }
  }
}

}  // namespace
