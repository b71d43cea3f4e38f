// The one mapping of exceptions to failure codes at a boundary: an exported C function or a
// platform entry point under a Windows name lets nothing through to its caller. Every layer above
// this one guards its entry points with these helpers, so a new exception type is mapped here
// once.
#pragma once

#include <new>

#include "platform/base/types.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform {

// The HRESULT of the exception being handled; call it only inside a catch handler. A
// CAtlException keeps its HRESULT (E_FAIL for a zero one), memory running out is E_OUTOFMEMORY,
// anything else (a standard exception nobody meant to throw, an int ...) E_UNEXPECTED.
inline HRESULT HResultOfCurrentException() noexcept {
  try {
    throw;
  } catch (const CAtlException& e) {
    return e.hr() != 0 ? e.hr() : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The same as a Win32 error number, for the entry points that report those: memory running out
// is ERROR_NOT_ENOUGH_MEMORY, a CAtlException carrying a Win32 error that error, anything else
// `other` (the layer's own code for an internal failure).
inline DWORD Win32OfCurrentException(DWORD other) noexcept {
  const HRESULT hr = HResultOfCurrentException();
  if (hr == E_OUTOFMEMORY) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  const auto bits = static_cast<DWORD>(hr);
  return (bits & 0xFFFF0000u) == (0x80000000u | (FACILITY_WIN32 << 16)) ? (bits & 0xFFFFu) : other;
}

// Runs `body` at a boundary: any exception becomes the thread's last error (an HRESULT kept as
// its 32-bit value, as the platform does) and the result `failed`.
template <typename R, typename Body>
R GuardBoundary(R failed, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {  // everything: nothing may reach the caller
    SetLastError(static_cast<DWORD>(HResultOfCurrentException()));
    return failed;
  }
}

// For the C++ entry points whose contract is to throw CAtlException: rethrows the exception being
// handled as one, with the HRESULT above.
[[noreturn]] inline void RethrowAsCAtlException() {
  throw CAtlException(HResultOfCurrentException());
}

}  // namespace Velmora::Platform
