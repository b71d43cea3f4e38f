// Base64Encode and Base64Decode: the Base64 text of the Authenticode time-stamp exchange and of
// the BASE64 request and stamp files. The alphabet is RFC 4648's ("A"-"Z", "a"-"z", "0"-"9",
// "+", "/") with "=" padding.
#pragma once

#include <cstddef>

#include "codec/corekit/blob.h"

namespace Velmora::PKI::TSP::Client {

// The longest input Base64Encode takes: the largest n whose 4n does not pass 2,147,483,647, so
// that every count of the encoding fits a signed 32-bit integer.
inline constexpr std::size_t kBase64MaxInput = 536'870'911;

// The room Base64Encode sets aside for `length` input bytes before it writes: r = 4n/3 + n mod 3,
// rounded up to a multiple of 4 within its last 76-character line, plus 2 bytes for each line
// break and one more pair. Never less than the text written, usually a little more.
std::size_t Base64EncodeGetRequiredLength(std::size_t length) noexcept;

// The Base64 text of `length` bytes at `data` (plain ASCII, no terminating NUL): the complete
// 3-byte groups as 4 characters each, 19 groups (76 characters) to a line; CR LF after every full
// line, the last one included, and after no other; then a remaining 1 or 2 bytes as one group
// padded with "=" to 4 characters. So 57 bytes give 76 characters and CR LF (78 bytes), 58 bytes
// 76 characters, CR LF and 4 characters (82), 10 bytes 16 characters, 2 bytes 4 characters
// ending in one "=", and 0 bytes nothing.
// Throws CAtlException: E_FAIL for an input longer than kBase64MaxInput (refused before `data` is
// read), E_INVALIDARG for a null `data` with a non-zero length, E_OUTOFMEMORY.
CBlob Base64Encode(const unsigned char* data, std::size_t length);
CBlob Base64Encode(const CBlob& data);

// Decodes Base64 text of `length` bytes at `text` into `out`, whose room in bytes *outLength
// gives on entry; on return *outLength holds the number of bytes the text decodes to. Returns
// true on success. A failure returns false with the reason in the thread's last error
// (Platform::GetLastError):
//   ERROR_INVALID_PARAMETER  `text` or `outLength` is null (*outLength is then left alone).
//   ERROR_MORE_DATA          the bytes do not fit: the room is too small, or `out` is null (a
//                            size query, which thus fails even for a text of 0 bytes).
//                            *outLength holds the full count; groups are written while they fit,
//                            and nothing after the first that does not.
//   ERROR_INVALID_DATA       the text is not Base64 (see below); *outLength is 0.
// An empty text (or one of white space only) decodes to 0 bytes and succeeds when `out` is given.
//
// The text is read up to `length` bytes or a NUL byte, whichever comes first. White space
// (space, TAB, CR, LF, VT, FF) is skipped wherever it stands. Each 4 characters of the alphabet
// give 3 bytes; a final group of 2 or 3 characters gives 1 or 2 bytes, with or without its
// padding. Refused as not Base64: any other character (the URL-safe "-" and "_", bytes of 0x80
// and above, punctuation, control characters), padding anywhere but after the 2nd or 3rd
// character of the last group, padding that does not fill that group to 4, anything but white
// space after the padding, and a final group of a single character (6 bits cannot make a byte:
// the text was cut). Such text is never decoded by guessing which characters to drop.
// On failure the content of `out` is unspecified.
bool Base64Decode(const char* text, std::size_t length, unsigned char* out, std::size_t* outLength);

}  // namespace Velmora::PKI::TSP::Client
