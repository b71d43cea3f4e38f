// The shell entry points: show a time-stamp request (".tsq") or a time stamp (".tsr") in the
// viewer's modal sheet without using CRequest or CStamp. The desktop's open action for the two
// file types runs `horodex-view FILE`, which calls the two open functions the way rundll32 calls
// them on the original platform (window, instance, command line, show command).
//
//   CryptExtOpenTSPStamp(nullptr, nullptr, fileName, 1);   // shows the stamp, or an error box
//   CryptExtDisplayRequestTSP(parent, bytes, length);      // throws CAtlException on failure
//
// A file holds the DER message or Base64 text of it (bare, or framed by "-----BEGIN ...-----" and
// "-----END ...-----" lines) in the locale's code set, UTF-8 with a byte order mark, or UTF-16 in
// either byte order with or without a byte order mark.
#pragma once

#include "platform/base/types.h"

namespace Velmora::Platform {
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
}  // namespace Velmora::Platform

extern "C" {

// Reads the file `fileName` (narrow text in the locale's code set; a name in double quotes is
// unquoted in place, so the buffer must be writable), imports it as a request and shows it in the
// modal sheet "Запрос на штамп времени" owned by `window` (null for none); returns when the sheet
// is closed. `instance` is not used. A `showCommand` of 0 returns at once without reading
// anything. Never throws: every failure (the file cannot be read or decoded, the bytes are not a
// request, the sheet cannot be shown) is shown in an error box captioned "Velmora TSP Client"
// with the text of the failure's code.
void CryptExtOpenTSPRequest(Velmora::Platform::HWND window, Velmora::Platform::HINSTANCE instance,
                            char* fileName, int showCommand);

// The same with a time stamp (a TimeStampResp or a bare TimeStampToken) and the sheet
// "Штамп времени".
void CryptExtOpenTSPStamp(Velmora::Platform::HWND window, Velmora::Platform::HINSTANCE instance,
                          char* fileName, int showCommand);

// Imports `length` DER bytes at `data` as a request and shows it in the modal sheet owned by
// `window`. Reports nothing itself: the CAtlException of the import or of the sheet reaches the
// caller (a C++ caller; a C caller must not call these two).
void CryptExtDisplayRequestTSP(Velmora::Platform::HWND window, const unsigned char* data,
                               Velmora::Platform::DWORD length);

// The same with a time stamp.
void CryptExtDisplayStampTSP(Velmora::Platform::HWND window, const unsigned char* data,
                             Velmora::Platform::DWORD length);

}  // extern "C"
