// Hexadecimal text given on the command line (a digest, for example).
#pragma once

#include <string>
#include <vector>

namespace Horodex {

// Appends the bytes that `text` spells, two hexadecimal digits each, either case. False for
// empty text, an odd number of digits or any other character.
bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace Horodex
