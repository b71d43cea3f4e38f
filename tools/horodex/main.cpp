// horodex: the command-line tool of the Velmora TSP Client.
#include <clocale>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/text/atl_exception.h"
#include "tools/horodex-view/view.h"
#include "tools/horodex/authenticode_command.h"
#include "tools/horodex/compare_command.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/proxy_command.h"
#include "tools/horodex/query_command.h"
#include "tools/horodex/show_command.h"
#include "tools/horodex/stamp_command.h"
#include "tools/horodex/verify_command.h"

namespace {

constexpr const char* kUsage =
    "usage: horodex show [--json] FILE\n"
    "       horodex query (FILE | --digest HEX) [--hash ALG] [--policy OID] [--no-nonce]\n"
    "                     [--cert-req] [--base64] -o OUT\n"
    "       horodex authenticode FILE [--url URL] -o OUT\n"
    "       horodex view FILE\n"
    "       horodex verify STAMP [--data FILE | --digest HEX | --request REQ] [--ca CERTFILE]...\n"
    "                     [--certs BUNDLE]... [--accept-ext OIDS|*] [--json]\n"
    "       horodex stamp FILE --tsa URL [--no-verify] [--ca CERTFILE]... [--json] -o OUT.tsr\n"
    "                     (more options: horodex stamp --help)\n"
    "       horodex compare A.tsr B.tsr [--accuracy MICROSECONDS] [--json]\n"
    "       horodex proxy URL [--json]\n"
    "\n"
    "  show          decode a time-stamp request (.tsq), response or token (.tsr) and print\n"
    "                its fields; FILE may be DER or Base64 text; --json prints one JSON object\n"
    "  query         make a time-stamp request for FILE, or for a hash value given in hex, and\n"
    "                write it to OUT as DER (Base64 text with --base64); ALG is a dotted OID or\n"
    "                a name such as sha256; defaults come from the client policies\n"
    "  authenticode  a legacy Authenticode time stamp for the bytes of FILE (a signature's\n"
    "                encrypted digest) from URL (default: the DefaultMSTSPURL policy); the\n"
    "                server's PKCS #7 reply is written to OUT\n"
    "  view          show a request (.tsq) or stamp (.tsr) file in the viewer, as horodex-view\n"
    "                does; the kind is told from the extension, else from the content\n"
    "  verify        check a stamp: that it imports, matches the data, digest or request, names\n"
    "                a TSA certificate that is found (in the token, the --certs bundles or the\n"
    "                user's AddressBook), is signed by it, and that the certificate's chain ends\n"
    "                in a trusted root (the system's and the --ca files) at the stamp's time;\n"
    "                one line per check, exit status 0 only when all pass\n"
    "  stamp         a time stamp for FILE from the TSA at URL: hashes the file, sends the\n"
    "                request, verifies the stamp (signature and TSA certificate chain; --ca adds\n"
    "                trusted roots), writes the TSA's response to OUT and prints the time, serial\n"
    "                number and TSA\n"
    "  compare       which of two stamps came first, or that they cannot be ordered\n"
    "  proxy         which proxy a stamp sent to URL would go through, and why: the proxy\n"
    "                variables, the desktop's settings, the proxy script and its answer\n";

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
  if (command == "query") {
    return Horodex::RunQuery(args, std::cout, std::cerr);
  }
  if (command == "authenticode") {
    return Horodex::RunAuthenticode(args, std::cerr);
  }
  if (command == "proxy") {
    return Horodex::RunProxy(args, std::cout, std::cerr);
  }
  if (command == "show") {
    return Horodex::RunShow(args, std::cout, std::cerr);
  }
  if (command == "view") {
    if (args.size() != 1) {
      std::cerr << "usage: horodex view FILE\n";
      return Horodex::kExitUsage;
    }
    return Horodex::ViewFile(args[0], std::cout);
  }
  if (command == "verify") {
    return Horodex::RunVerify(args, std::cout, std::cerr);
  }
  if (command == "stamp") {
    return Horodex::RunStamp(args, std::cout, std::cerr);
  }
  if (command == "compare") {
    return Horodex::RunCompare(args, std::cout, std::cerr);
  }
  std::cerr << "horodex: unknown command '" << command << "'\n" << kUsage;
  return Horodex::kExitUsage;
}
