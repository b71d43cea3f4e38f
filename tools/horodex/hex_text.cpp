// Hexadecimal text given on the command line, read into bytes.
#include "tools/horodex/hex_text.h"

#include <cctype>

namespace Horodex {

bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes) {
  if (text.empty() || text.size() % 2 != 0) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    for (std::size_t j = i; j < i + 2; ++j) {
      const int c = std::tolower(static_cast<unsigned char>(text[j]));
      if (!std::isxdigit(c)) {
        return false;
      }
      value = value * 16 + static_cast<unsigned>(std::isdigit(c) ? c - '0' : c - 'a' + 10);
    }
    bytes.push_back(static_cast<unsigned char>(value));
  }
  return true;
}

}  // namespace Horodex
