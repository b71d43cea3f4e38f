// The name RFC 3161 gives a PKIStatus value, as the tool prints it.
#pragma once

#include <string>

namespace Horodex {

inline std::string StatusName(unsigned long status) {
  static constexpr const char* kNames[] = {"granted",           "grantedWithMods",
                                           "rejection",         "waiting",
                                           "revocationWarning", "revocationNotification"};
  return status < 6 ? kNames[status] : "unknown";
}

}  // namespace Horodex
