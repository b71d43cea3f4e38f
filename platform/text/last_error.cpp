#include "platform/text/last_error.h"

namespace Velmora::Platform {
namespace {
thread_local DWORD t_lastError = 0;
}  // namespace

DWORD GetLastError() noexcept {
  return t_lastError;
}
void SetLastError(DWORD code) noexcept {
  t_lastError = code;
}

}  // namespace Velmora::Platform
