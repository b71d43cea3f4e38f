// `horodex query`: makes a time-stamp request (.tsq) for a file, or for a hash value given in hex,
// through CRequest, and writes it as DER or Base64 text.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

int RunQuery(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Horodex
