// The per-thread last-error code of the platform (GetLastError / SetLastError), and the mapping
// of the C library's errno values onto it.
#pragma once

#include "platform/base/types.h"

namespace Velmora::Platform {

DWORD GetLastError() noexcept;
void SetLastError(DWORD code) noexcept;

// The Win32 error number that stands for an errno value: ENOENT gives ERROR_FILE_NOT_FOUND,
// ENOTDIR ERROR_PATH_NOT_FOUND, EACCES and EPERM ERROR_ACCESS_DENIED, ENOMEM
// ERROR_NOT_ENOUGH_MEMORY, EEXIST ERROR_FILE_EXISTS, ENOSPC ERROR_DISK_FULL, EINVAL
// ERROR_INVALID_PARAMETER, and so on (see last_error.cpp). It is asked only after a call failed,
// so 0 (no errno recorded) and any value without a closer match give ERROR_GEN_FAILURE: the
// result is never ERROR_SUCCESS, and a failure can never turn into success on the way.
DWORD Win32FromErrno(int errnoValue) noexcept;

}  // namespace Velmora::Platform
