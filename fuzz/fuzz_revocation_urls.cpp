// The extension values a certificate names its revocation sources in: any bytes, read as an
// authorityInfoAccess and as a cRLDistributionPoints value, give a list of http URLs (none for
// bytes that do not decode) and nothing else.
#include <cstddef>
#include <cstdint>

#include "platform/capi/revocation_urls.h"

namespace Capi = Velmora::Platform::Capi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Velmora::Platform::CRYPT_OBJID_BLOB value{static_cast<Velmora::Platform::DWORD>(size),
                                                  const_cast<std::uint8_t*>(data)};
  for (const auto& urls : {Capi::OcspUrlsIn(value), Capi::CrlUrlsIn(value)}) {
    for (const std::string& url : urls) {
      if (url.compare(0, 7, "http://") != 0 && url.compare(0, 7, "HTTP://") != 0) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
