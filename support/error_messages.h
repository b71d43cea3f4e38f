// Texts of error codes, in English and Russian.
//
// The lookup of an HRESULT's text goes, in this order, to:
//   1. the fixed text of 0x8010001C, the code CSPs give for a container name in the wrong format
//      or a container of another CSP;
//   2. the library's own table, for facility 0x210 (FACILITY_HORODEX);
//   3. the platform's system table (platform/text/messages.h), for the full HRESULT; a Win32
//      code wrapped as 0x8007xxxx is found under its number;
//   4. the HTTP client's table, by the low 16 bits, for WinHTTP numbers wrapped as HRESULTs
//      (0x80072EE0 to 0x80072FFF) or given bare (12000 to 12287); limited to that range so that
//      a code of another facility never borrows a WinHTTP text through its low bits;
//   5. the symbolic names of the ADSI codes 0x80005000 to 0x80005010 and 0x80005014.
// The first run of CR and LF characters that ends a found text is cut off; line breaks inside a
// text stay. The texts of other modules of the original platform (OLE DB, MSMQ, network
// management, directory services) have no counterpart here and are not searched.
//
// The language is the user's (Platform::UserLanguage: Russian for a Russian locale, even one not
// installed on the machine, English otherwise) unless a call names one.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "horodex/Errors.h"
#include "platform/text/convert.h"
#include "platform/text/language.h"
#include "support/errors.h"

namespace Velmora::Support {

using Platform::Language;

// One of the library's own codes with its symbolic name and texts. Each text ends with CR LF, as
// a message table's entries do; the lookup strips it.
struct OwnErrorCode {
  HRESULT code;
  const char* name;
  const wchar_t* english;
  const wchar_t* russian;
};

// Every own code, in increasing order.
std::span<const OwnErrorCode> OwnErrorCodes() noexcept;

// The size, in wide characters with the terminator, of the buffer the lookup fills.
inline constexpr std::size_t kErrorMessageChars = 1024;

// The text without its final run of CR and LF characters.
std::wstring_view StripTrailingLineBreaks(std::wstring_view text) noexcept;

// LookupErrorMessage: fills `buffer` with the text for `hr`, truncated to the buffer, and
// returns true when a text was found. The buffer is always left terminated, empty when nothing
// was found; an empty buffer gets nothing and the answer is false.
bool LookupErrorMessage(HRESULT hr, std::span<wchar_t> buffer);
bool LookupErrorMessage(HRESULT hr, std::span<wchar_t> buffer, Language language);

// GetErrorMessage as horodex/Errors.h declares it (the user's language), in a given language.
std::wstring GetErrorMessage(HRESULT hr, Language language);

// The same text as UTF-16, for the `unsigned short` forms of the exported interface.
Platform::Utf16String GetErrorMessageUtf16(HRESULT hr);
Platform::Utf16String GetErrorMessageUtf16(HRESULT hr, Language language);

}  // namespace Velmora::Support
