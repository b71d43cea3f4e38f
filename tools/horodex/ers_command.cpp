// horodex ers: which evidence-record command a command line is, and its run by subcommand.
#include "tools/horodex/ers_command.h"

#include <algorithm>

#include "platform/errors/atl_exception.h"
#include "tools/horodex/ers_options.h"
#include "tools/horodex/ers_subcommands.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/help_text.h"

namespace Horodex {

namespace P = Velmora::Platform;

bool IsEvidenceCommand(const std::string& command, const std::vector<std::string>& args) {
  if (command == "stamp") {
    return std::find(args.begin(), args.end(), "--evidence") != args.end();
  }
  if (command == "verify" || command == "show") {
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i].empty() || args[i][0] == '-') {
        if (TakesValue(command, args[i])) {
          ++i;
        }
        continue;
      }
      return args[i].ends_with(".ers");
    }
  }
  return false;
}

int RunErs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  const std::string& command = args[0];
  std::vector<std::string> rest;
  for (const std::string& arg : args) {
    if (arg != "--evidence") {
      rest.push_back(arg);
    }
  }
  ErsOptions o;
  if (!ReadErsOptions(command, rest, o, err)) {
    return kExitUsage;
  }
  try {
    if (command == "stamp") {
      return StampRecords(o, out, err);
    }
    if (command == "verify") {
      return VerifyRecords(o, out, err);
    }
    if (command == "renew") {
      return RenewRecords(o, out, err);
    }
    if (command == "show") {
      return ShowRecord(o, out, err);
    }
  } catch (const P::CAtlException& e) {
    err << "horodex ers " << command << ": " << ErrorText(e.hr()) << "\n";
    return kExitBadMessage;
  }
  err << "horodex ers: unknown subcommand '" << command << "'\n" << CommandHelp("ers");
  return kExitUsage;
}

}  // namespace Horodex
