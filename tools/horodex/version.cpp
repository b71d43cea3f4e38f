#include "tools/horodex/version.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

// Exported by libhorodex.so.1 (library/version.cpp): the version of the library loaded, which
// may be newer than the one this tool was built with.
extern "C" const char* HorodexVersion();

namespace Horodex {

void WriteVersion(std::ostream& out) {
  const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
  out << "horodex " << HORODEX_TOOL_VERSION << "\n"
      << "libhorodex " << HorodexVersion() << "\n"
      << OpenSSL_version(OPENSSL_VERSION) << "\n"
      << "libcurl " << (curl != nullptr ? curl->version : "unknown") << "\n";
}

}  // namespace Horodex
