// `horodex proxy URL [--json]`: which proxy a stamp sent to URL would go through and why: where
// the configuration came from (the proxy variables, GNOME or KDE settings), the proxy script and
// its answer, the bypass rule that sent it direct, or why discovery failed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

int RunProxy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Horodex
