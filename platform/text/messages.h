// The platform's message texts, English and Russian, for every platform code the library can
// raise or pass on: the Win32 numbers of winerror.h (also under their 0x8007xxxx HRESULTs), the
// generic HRESULTs, the CryptoAPI provider (NTE_), message and object (CRYPT_E_), ASN.1
// (CRYPT_E_ASN1_) and trust (CERT_E_, TRUST_E_) codes, and the WinHTTP error numbers. It stands
// in for the system's message table and for the HTTP client's own one, which is why the WinHTTP
// numbers are a source of their own: the system table does not hold them.
//
// Texts are stored without the CR LF that the platform's message tables end theirs with.
#pragma once

#include <span>

#include "platform/base/types.h"
#include "platform/text/language.h"

namespace Velmora::Platform {

enum class MessageSource : unsigned char {
  System,   // the system table: Win32 numbers and HRESULTs
  WinHttp,  // the HTTP client's table: plain WinHTTP numbers, 12001 to 12186
};

struct PlatformMessage {
  MessageSource source;
  DWORD id;          // a Win32 number, or an HRESULT as its unsigned 32-bit spelling
  const char* name;  // symbolic name, "ERROR_ACCESS_DENIED"
  const wchar_t* english;
  const wchar_t* russian;

  const wchar_t* text(Language language) const noexcept {
    return language == Language::Russian ? russian : english;
  }
};

// Every entry, ordered by source and then by id.
std::span<const PlatformMessage> PlatformMessages() noexcept;

// The entry for message `id` of `source`, or null. The system source also answers an HRESULT of
// facility 7 (0x8007xxxx) with the entry of its Win32 number, the way the system's message
// lookup does: 0x80070005 finds ERROR_ACCESS_DENIED.
const PlatformMessage* FindPlatformMessage(MessageSource source, DWORD id) noexcept;

// The text of message `id` of `source` in `language`, or null when the table has none.
inline const wchar_t* PlatformMessageText(MessageSource source, DWORD id,
                                          Language language) noexcept {
  const PlatformMessage* entry = FindPlatformMessage(source, id);
  return entry != nullptr ? entry->text(language) : nullptr;
}

}  // namespace Velmora::Platform
