// The per-thread last-error code of the platform (GetLastError / SetLastError).
#pragma once

#include "platform/text/types.h"

namespace Velmora::Platform {

DWORD GetLastError() noexcept;
void SetLastError(DWORD code) noexcept;

}  // namespace Velmora::Platform
