// horodex: the command-line tool of the Velmora TSP Client.
#include <openssl/crypto.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/horodex-view/view.h"
#include "tools/horodex/authenticode_command.h"
#include "tools/horodex/compare_command.h"
#include "tools/horodex/ers_command.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/help_text.h"
#include "tools/horodex/proxy_command.h"
#include "tools/horodex/query_command.h"
#include "tools/horodex/show_command.h"
#include "tools/horodex/stamp_command.h"
#include "tools/horodex/verify_command.h"
#include "tools/horodex/version.h"

namespace {

// Where -q sends everything.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// The locale name setlocale(category, "") would load: LC_ALL, the category's variable, LANG,
// the first of them that is set and not empty.
std::string_view LocaleNamed(const char* variable) {
  for (const char* name : {"LC_ALL", variable, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return {};
}

// Whether the locale is the C locale in all the tool uses: C, POSIX, or C.UTF-8 (its UTF-8 is
// what the text conversions take the C locale's ASCII for, and it translates nothing), so that
// loading it would only read its files.
bool IsPlainC(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name == "C.UTF-8" || name == "C.utf8";
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

int Dispatch(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err) {
  using Run = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
  static const std::pair<const char*, Run> kCommands[] = {
      {"query", Horodex::RunQuery},     {"authenticode", Horodex::RunAuthenticode},
      {"proxy", Horodex::RunProxy},     {"show", Horodex::RunShow},
      {"verify", Horodex::RunVerify},   {"stamp", Horodex::RunStamp},
      {"compare", Horodex::RunCompare},
  };
  if (command == "ers") {
    return Horodex::RunErs(args, out, err);
  }
  std::vector<std::string> evidence{command};
  evidence.insert(evidence.end(), args.begin(), args.end());
  if (command == "renew" || Horodex::IsEvidenceCommand(command, evidence)) {
    return Horodex::RunErs(evidence, out, err);
  }
  for (const auto& [name, run] : kCommands) {
    if (command == name) {
      return run(args, out, err);
    }
  }
  if (command == "view") {
    if (args.size() != 1) {
      err << Horodex::CommandHelp("view");
      return Horodex::kExitUsage;
    }
    return Horodex::ViewFile(args[0], out);
  }
  err << "horodex: unknown command '" << command << "'\n" << Horodex::kOverview;
  return Horodex::kExitUsage;
}

int Run(int argc, char** argv, bool& quiet) {
  // The process ends when the command is done: OpenSSL's clean-up at exit (its providers, engines
  // and tables freed one by one) would only add to every command's time. Nor does the tool print
  // OpenSSL's own error texts (its messages are the library's): without this, the first error
  // OpenSSL queues, such as the end of a PEM file, loads all of them (0.9 million instructions).
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS, nullptr);
  // The user's character set (text conversions) and language (messages); the other categories
  // are not used by the tool, and loading each of them is a file to read at every start.
  for (const auto& [category, variable] :
       {std::pair{LC_CTYPE, "LC_CTYPE"}, std::pair{LC_MESSAGES, "LC_MESSAGES"}}) {
    if (!IsPlainC(LocaleNamed(variable))) {
      std::setlocale(category, "");
    }
  }
  std::vector<std::string> args;
  // -q before or after the command, but not as the value of an option ("--password -q").
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool isValue = !args.empty() && Horodex::TakesValue(args[0], argv[i - 1]);
    if ((arg == "-q" || arg == "--quiet") && !isValue) {
      quiet = true;
    } else {
      args.push_back(arg);
    }
  }
  NullBuffer nothing;
  std::ostream silent(&nothing);
  std::ostream& out = quiet ? silent : std::cout;
  std::ostream& err = quiet ? silent : std::cerr;

  if (args.empty()) {
    err << Horodex::kOverview;
    return Horodex::kExitUsage;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (IsHelp(command) || (command == "help" && args.empty())) {
    out << Horodex::kOverview;
    return Horodex::kExitOk;
  }
  if (command == "--version" || command == "version") {
    Horodex::WriteVersion(out);
    return Horodex::kExitOk;
  }
  // `help COMMAND` and `COMMAND --help` alike.
  const bool help = command == "help" || std::any_of(args.begin(), args.end(), IsHelp);
  const std::string named = command == "help" ? args[0] : command;
  if (help) {
    const char* text = Horodex::CommandHelp(named);
    if (text == nullptr) {
      err << "horodex: unknown command '" << named << "'\n" << Horodex::kOverview;
      return Horodex::kExitUsage;
    }
    out << text;
    return Horodex::kExitOk;
  }
  return Dispatch(command, args, out, err);
}

}  // namespace

static_assert(Horodex::kExitInternal == Horodex::kExitInternalError);

int main(int argc, char** argv) {
  bool quiet = false;
  try {
    return Run(argc, argv, quiet);
  } catch (...) {
    NullBuffer nothing;
    std::ostream silent(&nothing);
    return Horodex::ReportInternalError("horodex", quiet ? silent : std::cerr);
  }
}
