// horodex-view FILE: shows a time-stamp request (.tsq), a time stamp (.tsr) or the time stamps of
// a CMS signature (.p7s, .p7m) in the viewer, as the desktop's open action for those file types
// (horodex-view.desktop).
#include <clocale>
#include <iostream>
#include <string>

#include "tools/horodex-view/view.h"

int main(int argc, char** argv) try {
  std::setlocale(LC_ALL, "");
  if (argc != 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::cerr << "usage: horodex-view FILE\n"
                 "  shows a time-stamp request (.tsq), a time stamp (.tsr, also a bare token)\n"
                 "  or the time stamps of a CMS signature (.p7s, .p7m; one page each), DER or\n"
                 "  Base64 text, in the viewer\n";
    return argc == 2 ? Horodex::kViewShown : Horodex::kViewUsage;
  }
  return Horodex::ViewFile(argv[1], std::cout);
} catch (...) {
  return Horodex::ReportInternalError("horodex-view", std::cerr);
}
