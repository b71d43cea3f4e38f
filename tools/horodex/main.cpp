// horodex: the command-line tool of the Velmora TSP Client.
#include <clocale>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/text/atl_exception.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/show_command.h"

namespace {

constexpr const char* kUsage =
    "usage: horodex show [--json] FILE\n"
    "  show   decode a time-stamp request (.tsq), response or token (.tsr) and print its fields\n"
    "         FILE may be DER or Base64 text; --json prints one JSON object\n";

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? Horodex::kExitUsage : Horodex::kExitOk;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "show") {
    return Horodex::RunShow(args, std::cout, std::cerr);
  }
  std::cerr << "horodex: unknown command '" << command << "'\n" << kUsage;
  return Horodex::kExitUsage;
}
