// `horodex --version`: the tool's version, the library's it runs with, and OpenSSL's and
// libcurl's.
#pragma once

#include <ostream>

namespace Horodex {

void WriteVersion(std::ostream& out);

}  // namespace Horodex
