// `horodex --version`: the versions of the tool, the library, OpenSSL and libcurl.
#include "tools/horodex/version.h"

#include <openssl/crypto.h>

#include "platform/http/curl_loader.h"

// Exported by libhorodex.so.1 (library/version.cpp): the version of the library loaded, which
// may be newer than the one this tool was built with.
extern "C" const char* HorodexVersion();

namespace Horodex {

void WriteVersion(std::ostream& out) {
  const char* curl = Velmora::Platform::CurlVersionText();
  out << "horodex " << HORODEX_TOOL_VERSION << "\n"
      << "libhorodex " << HorodexVersion() << "\n"
      << OpenSSL_version(OPENSSL_VERSION) << "\n"
      << "libcurl " << (curl != nullptr ? curl : "cannot be loaded") << "\n";
}

}  // namespace Horodex
