// Colour on standard output: only when it is a terminal, never when NO_COLOR is set to anything
// but the empty text (no-color.org) or TERM is "dumb".
#pragma once

#include <ostream>
#include <string>

namespace Horodex {

enum class Colour { Green, Red, Yellow };

// Whether `out` is the process's standard output and that should be coloured.
bool ColourWanted(const std::ostream& out);

// `text` in `colour` when `colour` is wanted, else as it is.
std::string Paint(const std::string& text, Colour colour, bool wanted);

}  // namespace Horodex
