// CX500Name: an X.500 distinguished name, kept as received, and its display text.
//
//   Name ::= CHOICE { rdnSequence RDNSequence }
//   RDNSequence ::= SEQUENCE OF RelativeDistinguishedName
//   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
//   AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY DEFINED BY type }
//
// Display text, in the usual order (most specific first: the RDNs in reverse of their encoding
// order, as RFC 4514 writes them): "CN=Time Stamping Authority, O=Example, C=BE". RDNs are
// separated by ", ", the values of a multi-valued RDN by " + ", in the order received. Types are
// written with their short names, or as dotted OID text when they have none:
//   CN 2.5.4.3   SN 2.5.4.4   SERIALNUMBER 2.5.4.5   C 2.5.4.6   L 2.5.4.7   S 2.5.4.8
//   STREET 2.5.4.9   O 2.5.4.10   OU 2.5.4.11   T 2.5.4.12   G 2.5.4.42
//   E 1.2.840.113549.1.9.1   DC 0.9.2342.19200300.100.1.25   UID 0.9.2342.19200300.100.1.1
// String values (see der_strings.h for the types read) are written as text with the escapes of
// RFC 4514: a backslash before , + " \ < > ; and before a leading '#' or space or a trailing
// space; control characters (below U+0020, and U+007F) as a backslash and two hex digits. A value
// of any other type is written as '#' and the hex of its whole DER (RFC 4514, 2.4). Bytes that
// the value's string type does not allow throw CRYPT_E_ASN1_ERROR.
#pragma once

#include <string>
#include <string_view>

#include "codec/corekit/blob.h"
#include "codec/corekit/string_proxy.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

class CX500Name {
 public:
  // The empty name (an empty RDNSequence), whose text is "".
  CX500Name();
  // Decodes `der` (see decode).
  explicit CX500Name(const CBlob& der);

  // The Name's encoding as received.
  const CBlob& get_encoded() const noexcept { return m_encoded; }
  // The display text described above.
  CWStringProxy toString() const;

  // Byte-wise comparison of the encodings.
  friend bool operator==(const CX500Name&, const CX500Name&) = default;

  // Reads a Name: the structure is checked throughout (SET members, types, string bytes), and the
  // encoding is then kept as received, so encode() gives back the input.
  void decode(const CBlob& der);
  CBlob encode() const { return m_encoded; }
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  CBlob m_encoded;
};

// The display text of a DER Name, as CX500Name::toString gives it.
CWStringProxy NameToString(const CBlob& derName);

// The short name of an attribute type (dotted OID text), or null when it has none.
const char* AttributeShortName(std::string_view oid) noexcept;

// Escapes a value for a name's text as described above (RFC 4514 plus control characters).
std::wstring EscapeNameValue(std::wstring_view value);

}  // namespace Velmora::ASN1
