// Readers and writers of the ASN.1 character-string types, for display texts (names, status texts).
//
// Each reader checks the element's tag and its bytes against the string type and yields the text
// as Unicode code points in a std::wstring (wchar_t holds a whole code point on Linux). Bytes that
// the type does not allow throw CRYPT_E_ASN1_ERROR; nothing is replaced silently.
//   UTF8String       well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF
//   PrintableString  A-Z a-z 0-9 space ' ( ) + , - . / : = ?  and, as a named tolerance, the other
//                    visible ASCII characters that real certificates put there ('@', '&', '*', '_')
//   IA5String        ASCII, 0x00 to 0x7F
//   VisibleString    visible ASCII and space, 0x20 to 0x7E
//   NumericString    digits and space
//   TeletexString    read as Latin-1, one code point per byte (what other toolkits do too)
//   BMPString        UTF-16BE, even length; surrogate pairs are joined, a lone surrogate refused
//   UniversalString  UTF-32BE, a multiple of four bytes, scalar values only
// Only the primitive forms are read: a constructed (BER) string is not a string element here.
#pragma once

#include <string>
#include <string_view>

#include "codec/der/der_reader.h"

namespace Velmora::ASN1::Der {

// True when `tag` is one of the universal string types listed above, primitive.
bool IsStringTag(const Tag& tag) noexcept;

// The text of a string element of any of the types above; another tag throws
// CRYPT_E_ASN1_BADTAG.
std::wstring ReadDisplayString(const Element& e);

// The text of a UTF8String; another tag throws CRYPT_E_ASN1_BADTAG.
std::wstring ReadUtf8String(const Element& e);

// UTF-8 bytes of a text of code points; a code point that is not a Unicode scalar value throws
// CRYPT_E_ASN1_ERROR.
std::string ToUtf8(std::wstring_view text);

// Code points of UTF-8 bytes, checked as for a UTF8String.
std::wstring FromUtf8(std::string_view utf8);

}  // namespace Velmora::ASN1::Der
