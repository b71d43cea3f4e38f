// Failures as an application meets them.
//
//   try {
//     request.Send(true);
//   } catch (const Velmora::Platform::CAtlException& e) {
//     std::fprintf(stderr, "0x%08X %s\n", static_cast<unsigned>(e.hr()),
//                  Velmora::Support::GetErrorMessageNarrow(e.hr()).c_str());
//   }
//
// Every failure of the exported classes is thrown by value as CAtlException, which carries one
// HRESULT: Win32 error numbers arrive as 0x8007xxxx, the library's own failures as 0xC210xxxx.
// The texts are in the user's language: Russian for a Russian locale, English otherwise. The codes
// to compare with are the platform's (platform/errors/winerror.h: CRYPT_E_NOT_FOUND ...) and the
// library's own (support/error_codes.h: HORODEX_E_*).
#pragma once

#include <string>

#include "platform/base/types.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "support/error_codes.h"

namespace Velmora::Support {

// GetErrorMessage: the text for `hr`, or "Unknown error code (0x%08X)" with `hr` as an unsigned
// 32-bit number when there is none.
std::wstring GetErrorMessage(Platform::HRESULT hr);

// The same text in the code set of the calling thread's C locale (UTF-8 when that is plain
// ASCII), for printing. A character the code set cannot represent throws CAtlException with
// 0x80070459.
std::string GetErrorMessageNarrow(Platform::HRESULT hr);

}  // namespace Velmora::Support
