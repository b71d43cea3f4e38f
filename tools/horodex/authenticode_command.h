// `horodex authenticode`: a legacy Authenticode time stamp for the bytes of a file (an
// Authenticode signature's encrypted digest, as a rule) through GetMSStamp; the server's PKCS #7
// reply is written as it came.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

// The server gave no stamp (refused by policy, HTTP failure, a reply that is not Base64 ...).
inline constexpr int kExitNoStamp = 5;

int RunAuthenticode(const std::vector<std::string>& args, std::ostream& err);

}  // namespace Horodex
