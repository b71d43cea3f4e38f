// Reading request and stamp files for the shell entry points (include/horodex/ShellEntryPoints.h)
// and the tools: a file holds either the DER message itself or Base64 text of it, bare or framed
// by a header line and a footer line of dashes and a label ("-----BEGIN TSQ-----" ...), in ANSI
// (the locale's code set), UTF-8 with a byte order mark, or UTF-16 in either byte order with or
// without a byte order mark.
//
// All three return an HRESULT rather than throw (see each for the few cases that do throw), and
// share the size contract of the platform: with a null `out` only *outLength is set, to the number
// of bytes the content gives; with an `out`, *outLength gives its room on entry and the number of
// bytes written on return.
#pragma once

#include <cstddef>
#include <string>

#include "platform/base/types.h"

namespace Velmora::PKI::TSP::Client {

using Platform::HRESULT;

// Tells the kind of `length` bytes at `data` and gives the message bytes. The first rule that
// matches decides:
//   1. UTF-8 byte order mark (EF BB BF) and at least one more byte: Base64 text after the mark;
//   2. FF FE and at least one more byte: UTF-16 little-endian text after the mark;
//   3. FE FF and at least one more byte: UTF-16 big-endian text after the mark;
//   4. UTF-16 without a mark, told from the first 16-bit unit that is not TAB, LF, CR or SPACE:
//      "M" or "-" with a zero byte after it is little-endian text, with a zero byte before it
//      big-endian text (blank units are recognised in either byte order);
//   5. after any white space, "-" or "M" (a frame line, or Base64 of a DER SEQUENCE): Base64 text
//      in the locale's code set (DecodeBase64Text);
//   6. anything else is the DER message itself, copied unchanged.
// UTF-16 text is converted to the locale's code set before it is decoded. Results:
//   S_OK; E_INVALIDARG for a null `data` or `outLength`, or big-endian text of odd length (a
//   little-endian text's odd last byte is ignored); 0x800700EA (ERROR_MORE_DATA) when the room is
//   too small; ERROR_NO_UNICODE_TRANSLATION (0x80070459) for UTF-16 text that is not valid
//   UTF-16 or cannot be spelt in the locale's code set; and those of DecodeBase64Text.
HRESULT DecodeMessageContent(const unsigned char* data, std::size_t length, unsigned char* out,
                             std::size_t* outLength);

// Decodes Base64 text of `length` bytes: white space (space, TAB, LF, VT, FF, CR) is removed
// wherever it stands; text that then starts with "-" is a framed block whose body lies between the
// end of the second run of dashes (after the label) and the start of the third; anything else is
// all body. Results: S_OK; E_INVALIDARG for a null `data` or `outLength`; E_FAIL for empty text,
// a framed block without its third run of dashes (the footer line is missing), and a body that is
// not Base64 (see Base64Decode in TSP/horodex/Base64.h: a cut group of one character, characters
// outside the alphabet, misplaced padding), with a null `out` as well as with one; 0x800700EA
// (ERROR_MORE_DATA) when the decoded bytes do not fit the room.
HRESULT DecodeBase64Text(const char* data, std::size_t length, unsigned char* out,
                         std::size_t* outLength);

// Reads the file `fileName` (narrow text in the locale's code set) whole and decodes it with
// DecodeMessageContent into `out`. Returns S_OK, or as HRESULT: the system's error for a file
// that cannot be opened or read (0x80070002 missing, 0x80070003 missing folder, 0x80070005 a
// folder or no permission ...), 0x80070026 (ERROR_HANDLE_EOF) when the file gives fewer bytes than
// its size, and the failures of DecodeMessageContent. `out` is changed only on success.
// Throws CAtlException: 0x80070459 for a name the locale's code set cannot convert, E_INVALIDARG
// for a file of 2 GiB or more (the whole 64-bit size is checked, so a file of 4 GiB and a few
// bytes is refused too rather than read as a few bytes), E_OUTOFMEMORY.
HRESULT ReadMessageFile(const char* fileName, std::string& out);

}  // namespace Velmora::PKI::TSP::Client
