// The library's own failure codes (facility 0x210, both severity bits set), beside the platform's
// (platform/errors/winerror.h): what an application compares a caught CAtlException's HRESULT with.
// Their texts are in horodex/Errors.h's GetErrorMessage.
#pragma once

#include "platform/base/types.h"
#include "platform/errors/winerror.h"

namespace Velmora::Support {

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

}  // namespace Velmora::Support
