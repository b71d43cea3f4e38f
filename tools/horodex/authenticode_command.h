// `horodex authenticode`: a legacy Authenticode time stamp for the bytes of a file (an
// Authenticode signature's encrypted digest, as a rule) through GetMSStamp; the server's PKCS #7
// reply is written as it came.
#pragma once

#include "tools/horodex/exit_codes.h"

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

int RunAuthenticode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Horodex
