// The current time as the chain engine counts it: a FILETIME value.
#include <chrono>
#include <cstdint>

#include "platform/base/types.h"
#include "platform/capi/cert_chain_internal.h"

namespace Velmora::Platform::Capi {

std::uint64_t NowFileTime() {
  const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return kUnixEpochFileTime + static_cast<std::uint64_t>(since1970.count() / 100);
}

}  // namespace Velmora::Platform::Capi
