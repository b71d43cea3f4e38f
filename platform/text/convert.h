// Text conversions between the three forms the library meets:
//   - narrow text in the code set of the calling thread's C locale (what the platform calls the
//     thread's ANSI code page): nl_langinfo(CODESET), UTF-8 on any modern system;
//   - wide text, wchar_t, which is UTF-32 on Linux;
//   - UTF-16 text in `unsigned short` units (WCHAR16), the second exported form of every wide
//     text operation.
// All of them go through one routine (see convert.cpp): UTF-8, UTF-16 and UTF-32 are decoded to
// code points and encoded again by our own strict codecs, and a narrow code set other than UTF-8
// is first bridged to UTF-8 with iconv.
//
// Invalid input is refused, never repaired: invalid UTF-8 (overlong forms, encoded surrogates,
// values above U+10FFFF, stray or missing continuation bytes), unpaired UTF-16 surrogates,
// wchar_t values that are surrogates or above U+10FFFF, bytes that are not valid in the narrow
// code set, and characters that the narrow code set cannot represent all throw CAtlException
// with HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION), 0x80070459. Nothing is replaced by
// U+FFFD or '?': a name or a URL silently altered would be worse than a clear failure. A code set
// that iconv does not know throws HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), and a failed
// allocation E_OUTOFMEMORY.
//
// A code set of plain ASCII ("ANSI_X3.4-1968", the "C" locale of a program that never called
// setlocale) is taken as UTF-8, its superset: a library cannot choose its host's locale, and
// refusing every non-ASCII name there would make Russian texts unusable in such programs.
//
// Embedded NUL characters are kept; lengths come from the views, not from terminators.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/base/types.h"

namespace Velmora::Platform {

using Utf16String = std::basic_string<WCHAR16>;
using Utf16View = std::basic_string_view<WCHAR16>;

// The code set of the calling thread's C locale, as nl_langinfo(CODESET) names it.
std::string CurrentCodeSet();

// Narrow text in the thread's code set to and from wide and UTF-16 text.
std::wstring NarrowToWide(std::string_view text);
std::string WideToNarrow(std::wstring_view text);
Utf16String NarrowToUtf16(std::string_view text);
std::string Utf16ToNarrow(Utf16View text);

// The same with a named code set ("UTF-8", "CP1251", "KOI8-R" ...) instead of the thread's.
std::wstring NarrowToWide(std::string_view text, std::string_view codeSet);
std::string WideToNarrow(std::wstring_view text, std::string_view codeSet);

// Wide (UTF-32) text to and from UTF-16.
Utf16String WideToUtf16(std::wstring_view text);
std::wstring Utf16ToWide(Utf16View text);

// Text that is UTF-8 whatever the locale (DER UTF8String, configuration files).
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
Utf16String Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(Utf16View text);

// The length of a NUL-terminated UTF-16 text (the exported `const unsigned short*` forms); a
// null pointer counts as empty.
std::size_t Utf16Length(const WCHAR16* text) noexcept;

// A view of a NUL-terminated UTF-16 text; a null pointer gives an empty view.
inline Utf16View Utf16ViewOf(const WCHAR16* text) noexcept {
  return text == nullptr ? Utf16View() : Utf16View(text, Utf16Length(text));
}

}  // namespace Velmora::Platform
