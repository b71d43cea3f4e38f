// CExtension and CExtensions: the extensions of a TimeStampReq or a TSTInfo.
//
//   Extensions ::= SEQUENCE SIZE (1..MAX) OF Extension
//   Extension  ::= SEQUENCE {
//     extnID     OBJECT IDENTIFIER,
//     critical   BOOLEAN DEFAULT FALSE,
//     extnValue  OCTET STRING }
//
// An extension appears at most once in a list (RFC 5280, 4.2): a list that names an extnID twice
// is refused with CRYPT_E_ASN1_ERROR, and insert() refuses a second one with CRYPT_E_EXISTS.
// Tolerated on reading: critical written out as FALSE (BER; DER leaves the default out), a
// constructed extnValue (BER). encode() writes DER.
#pragma once

#include <string>

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::ASN1 {

class CExtension {
 public:
  CExtension() = default;
  // An extension of `oid` (dotted text; not an OID throws CRYPT_E_OID_FORMAT, null E_INVALIDARG)
  // whose extnValue holds `value` (the OCTET STRING's contents).
  CExtension(const char* oid, bool critical, const CBlob& value);

  // Dotted OID text; "" for a default-constructed extension.
  const char* get_extnID() const noexcept { return m_extnID.c_str(); }
  bool get_critical() const noexcept { return m_critical; }
  // The contents of the extnValue OCTET STRING (the DER of the extension's own value).
  const CBlob& get_extnValue() const noexcept { return m_extnValue; }

  friend bool operator==(const CExtension&, const CExtension&) = default;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  std::string m_extnID;
  bool m_critical = false;
  CBlob m_extnValue;
};

class CExtensions : public CDllList<CExtension> {
 public:
  // Appends `extension`; one whose extnID the list already holds throws CRYPT_E_EXISTS.
  void insert(const CExtension& extension);
  // The extension of `oid`, or null.
  const CExtension* find(const char* oid) const noexcept;

  // An empty list is not a valid Extensions value: reading refuses it (CRYPT_E_ASN1_ERROR) and
  // writing one throws ERROR_INVALID_STATE; a containing structure leaves the field out instead.
  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal
};

}  // namespace Velmora::ASN1
