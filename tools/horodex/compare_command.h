// `horodex compare A.tsr B.tsr [--accuracy MICROSECONDS] [--json]`: which of two stamps came
// first (CStamp::Compare), or that they cannot be ordered.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

int RunCompare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Horodex
