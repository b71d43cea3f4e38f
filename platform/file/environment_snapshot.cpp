#include "platform/file/environment_snapshot.h"

#include <cstdlib>

namespace Velmora::Platform {

std::string EnvironmentSnapshot(std::span<const char* const> names) {
  std::string snapshot;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    snapshot += value != nullptr ? '=' : '-';  // an empty value is not an unset one
    snapshot += value != nullptr ? value : "";
    snapshot += '\0';
  }
  return snapshot;
}

}  // namespace Velmora::Platform
