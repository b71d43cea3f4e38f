// CGeneralName and CGeneralNames: the names of RFC 5280 (tsa field, ESS issuer).
//
//   GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName
//   GeneralName ::= CHOICE {                   -- implicit tags
//     otherName                  [0] OtherName,
//     rfc822Name                 [1] IA5String,
//     dNSName                    [2] IA5String,
//     x400Address                [3] ORAddress,
//     directoryName              [4] Name,     -- explicit: Name is a CHOICE
//     ediPartyName               [5] EDIPartyName,
//     uniformResourceIdentifier  [6] IA5String,
//     iPAddress                  [7] OCTET STRING,
//     registeredID               [8] OBJECT IDENTIFIER }
//   OtherName ::= SEQUENCE { type-id OBJECT IDENTIFIER, value [0] EXPLICIT ANY DEFINED BY type-id }
//   EDIPartyName ::= SEQUENCE {
//     nameAssigner  [0] DirectoryString OPTIONAL,   -- explicit: DirectoryString is a CHOICE
//     partyName     [1] DirectoryString }
//
// A decoded name keeps its encoding as received and encode() gives it back. Display texts
// (toString):
//   otherName        "Other Name: <type-id>=<value>"  (a string value as text, else its DER in hex)
//   rfc822Name       "RFC822 Name=<text>"
//   dNSName          "DNS Name=<text>"
//   x400Address      "X400 Address=<hex of the DER>"
//   directoryName    the name's text, "CN=..., O=..., C=..." (x500_name.h)
//   ediPartyName     "EDI Party Name=<partyName>", with " (Name Assigner=<nameAssigner>)" after it
//                    when present
//   URI              "URL=<text>"
//   iPAddress        "IP Address=192.0.2.1" or "IP Address=2001:db8::1" (RFC 5952); with a mask
//                    (8 or 32 bytes, as in name constraints) "<address>/<mask>"; other lengths hex
//   registeredID     "Registered ID=<dotted OID>"
// Control characters in the IA5String names are escaped as \XX, as in directory names.
#pragma once

#include <cstdint>
#include <string>

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "codec/corekit/string_proxy.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

class CGeneralName {
 public:
  // The CHOICE's alternatives, numbered by their context tags; None for an empty object.
  enum class Type : int {
    None = -1,
    OtherName = 0,
    Rfc822Name = 1,
    DnsName = 2,
    X400Address = 3,
    DirectoryName = 4,
    EdiPartyName = 5,
    UniformResourceIdentifier = 6,
    IpAddress = 7,
    RegisteredId = 8,
  };

  // An empty name (Type::None): encode() and toString() throw ERROR_INVALID_STATE.
  CGeneralName() = default;

  Type get_type() const noexcept { return m_type; }

  // Builders; each replaces the name. Bad input throws: a Name that does not decode (the
  // reader's code), text outside IA5 or a bad OID (E_INVALIDARG / CRYPT_E_OID_FORMAT), an
  // address of a length other than 4, 8, 16 or 32 bytes (E_INVALIDARG).
  void put_directoryName(const CBlob& derName);
  void put_rfc822Name(const char* text);
  void put_dNSName(const char* text);
  void put_uniformResourceIdentifier(const char* text);
  void put_iPAddress(const CBlob& address);
  void put_registeredID(const char* oid);

  // The DER of a directoryName's Name (without the [4] wrapper); empty for other types.
  CBlob get_directoryName() const;
  // The content octets of the alternative as received: the text bytes of the IA5String forms,
  // the address of iPAddress, the OID content of registeredID, the members of otherName,
  // x400Address and ediPartyName, the Name's DER for directoryName.
  const CBlob& get_value() const noexcept { return m_value; }

  // The display text described above.
  CWStringProxy toString() const;

  // Same alternative and same value bytes (so two encodings of one directoryName that differ only
  // in the [4] wrapper's length form are equal).
  friend bool operator==(const CGeneralName& a, const CGeneralName& b) noexcept {
    return a.m_type == b.m_type && a.m_value == b.m_value;
  }

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  void setPrimitive(Type type, CBlob value);

  Type m_type = Type::None;
  CBlob m_value;    // see get_value()
  CBlob m_encoded;  // the whole GeneralName, as received or built
};

class CGeneralNames : public CDllList<CGeneralName> {
 public:
  // An empty list is not a valid GeneralNames value: reading refuses it (CRYPT_E_ASN1_ERROR) and
  // writing one throws ERROR_INVALID_STATE.
  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal
};

}  // namespace Velmora::ASN1
