// What `horodex help COMMAND` and `horodex COMMAND --help` print: each command's synopsis and one
// line per option. The manual page (docs/man/horodex.1) describes the same options at length; a
// test checks that every option printed here is on it.
#pragma once

#include <string_view>

namespace Horodex {

// The overview of every command, printed by `horodex --help` and on an unknown command.
extern const char* const kOverview;

// The help of `command`, or null for a name that is not a command.
const char* CommandHelp(std::string_view command);

// Whether `option` of `command` takes a value: its help writes it followed by a word in capitals
// ("--tsa URL", "-o OUT").
bool TakesValue(std::string_view command, std::string_view option);

}  // namespace Horodex
