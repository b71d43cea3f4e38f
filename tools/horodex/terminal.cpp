// Colour on standard output, when it is wanted.
#include "tools/horodex/terminal.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace Horodex {

bool ColourWanted(const std::ostream& out) {
  if (&out != &std::cout || isatty(STDOUT_FILENO) != 1) {
    return false;
  }
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return (noColor == nullptr || *noColor == '\0') &&
         (term == nullptr || std::strcmp(term, "dumb") != 0);
}

std::string Paint(const std::string& text, Colour colour, bool wanted) {
  if (!wanted) {
    return text;
  }
  const char* code = colour == Colour::Green ? "32" : colour == Colour::Red ? "31" : "33";
  return std::string("\033[") + code + "m" + text + "\033[0m";
}

}  // namespace Horodex
