// The error model of the library. Every failure is a thrown CAtlException carrying one HRESULT
// (platform/text/atl_exception.h); Win32 error numbers become 0x8007xxxx; the library's own
// failures use facility 0x210 with both severity bits set. The texts of every code are in
// support/error_messages.h.
#pragma once

#include "platform/text/atl_exception.h"
#include "platform/text/last_error.h"
#include "platform/text/types.h"
#include "platform/text/winerror.h"

namespace Velmora::Support {

using Platform::CAtlException;
using Platform::DWORD;
using Platform::HRESULT;

inline constexpr DWORD FACILITY_HORODEX = 0x210;  // the library's own codes
inline constexpr DWORD FACILITY_REVCLI = 0x211;   // the revocation client of the same maker

// The library's own codes. Values are public and never change or get reused.
inline constexpr HRESULT HORODEX_E_HTTP_ERROR = Platform::MakeHResult(0xC2100100);
inline constexpr HRESULT HORODEX_E_AUTH_TYPE_PROHIBITED = Platform::MakeHResult(0xC2100101);
inline constexpr HRESULT HORODEX_E_PROXY_AUTH_TYPE_PROHIBITED = Platform::MakeHResult(0xC2100102);
inline constexpr HRESULT HORODEX_E_TSA_PROHIBITED = Platform::MakeHResult(0xC2100103);
inline constexpr HRESULT HORODEX_E_NONCE_PROHIBITED = Platform::MakeHResult(0xC2100104);
inline constexpr HRESULT HORODEX_E_HASH_ALG_PROHIBITED = Platform::MakeHResult(0xC2100110);
inline constexpr HRESULT HORODEX_E_POLICY_ID_PROHIBITED = Platform::MakeHResult(0xC2100111);
inline constexpr HRESULT HORODEX_E_NONCE_MISMATCH = Platform::MakeHResult(0xC2100120);
inline constexpr HRESULT HORODEX_E_NO_TSA_URL = Platform::MakeHResult(0xC2100121);
inline constexpr HRESULT HORODEX_E_STAMP_EXPIRED = Platform::MakeHResult(0xC2100122);
inline constexpr HRESULT HORODEX_E_NO_DATA_HASH = Platform::MakeHResult(0xC2100123);
inline constexpr HRESULT HORODEX_E_TSA_UNSUCCESSFUL = Platform::MakeHResult(0xC2100124);
inline constexpr HRESULT HORODEX_E_EVIDENCE_ORDER = Platform::MakeHResult(0xC2100130);
inline constexpr HRESULT HORODEX_E_SIGNATURE_STAMP_MISMATCH = Platform::MakeHResult(0xC2100140);

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
