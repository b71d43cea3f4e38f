// The error model of the library. Every failure is a thrown CAtlException carrying one HRESULT
// (platform/errors/atl_exception.h); Win32 error numbers become 0x8007xxxx; the library's own
// failures use facility 0x210 with both severity bits set. The texts of every code are in
// support/error_messages.h.
#pragma once

#include "platform/base/types.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "support/error_codes.h"

namespace Velmora::Support {

using Platform::CAtlException;
using Platform::DWORD;
using Platform::HRESULT;

// HResultFromWin32: the HRESULT of a Win32 error number. 0 and codes that are negative as
// signed 32-bit values (HRESULTs already) pass unchanged; any positive code becomes
// 0x80070000 | (code & 0xFFFF): 5 gives 0x80070005, 0x12345 gives 0x80072345.
constexpr HRESULT HResultFromWin32(DWORD code) {
  return Platform::HRESULT_FROM_WIN32(code);
}

// ThrowHResult: throws CAtlException(hr), whatever its value.
[[noreturn]] void ThrowHResult(HRESULT hr);

// ThrowWin32Error: throws the HRESULT of `code`. It is called after something failed, so a code
// of 0 (the failing call left no error number) throws E_FAIL: an exception carrying 0 would be
// dropped as success by every catcher, and the failure would go unreported.
[[noreturn]] void ThrowWin32Error(DWORD code);

// ThrowLastError: ThrowWin32Error(GetLastError()) for the calling thread's last-error code.
[[noreturn]] void ThrowLastError();

// HResultFromLastError: HResultFromWin32(GetLastError()), without throwing; 0 when the thread
// has no error recorded. For callers that record a failure and go on or rethrow later.
HRESULT HResultFromLastError() noexcept;

}  // namespace Velmora::Support
