// CAlgorithmIdentifier and CAlgorithmIdentifierEx: an algorithm OID with optional parameters.
//
//   AlgorithmIdentifier ::= SEQUENCE {
//     algorithm   OBJECT IDENTIFIER,
//     parameters  ANY DEFINED BY algorithm OPTIONAL }
//
// Every class of asnkit offers the same codec surface:
//   decode(der)  reads one complete DER element; trailing bytes are refused. Failures throw
//                Platform::CAtlException with CRYPT_E_ASN1_EOD, _BADTAG, _ERROR or _LARGE and leave
//                the object as it was.
//   encode()     the DER of the value.
//   read(e)      codec-internal: reads an element that a containing structure's reader has
//                already split off; transactional like decode().
//   write(w)     codec-internal: appends the value's DER to a containing structure's writer.
#pragma once

#include <string>

#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/base/types.h"

namespace Velmora::ASN1 {

class CAlgorithmIdentifier {
 public:
  // An identifier without an algorithm (encode() refuses it with ERROR_INVALID_STATE).
  CAlgorithmIdentifier() = default;
  // An identifier of `oid` (dotted text) without parameters. Text that is not an OID throws
  // CRYPT_E_OID_FORMAT; null throws E_INVALIDARG.
  explicit CAlgorithmIdentifier(const char* oid);

  void swap(CAlgorithmIdentifier& other) noexcept;

  // Dotted OID text; "" when none is set. Valid until the algorithm changes.
  const char* get_algorithm() const noexcept { return m_algorithm.c_str(); }
  // Sets the OID (checked as by the constructor; "" clears it). Parameters are kept.
  void put_algorithm(const char* oid);

  // The parameters' DER as received or put; empty when absent.
  const CBlob& get_parameters() const noexcept { return m_parameters; }
  // Sets the parameters: one complete DER element, or an empty blob for none. Anything else
  // throws the reader's code.
  void put_parameters(const CBlob& der);

  // Same OID and same parameters, where an absent parameter and an explicit NULL count as the
  // same (RFC 5754 lets hash algorithms be written either way).
  friend bool operator==(const CAlgorithmIdentifier& a, const CAlgorithmIdentifier& b) noexcept;

  void decode(const CBlob& der);
  CBlob encode() const;
  void read(const Der::Element& e);  // codec-internal
  void write(Der::Writer& w) const;  // codec-internal

 private:
  std::string m_algorithm;
  CBlob m_parameters;
};

// The identifier as the TSP messages carry it, with the CryptoAPI ALG_ID cached beside it:
// 0 when none is known. Decoding and put_algorithm() leave it 0; callers look it up and store it.
class CAlgorithmIdentifierEx : public CAlgorithmIdentifier {
 public:
  CAlgorithmIdentifierEx() = default;
  explicit CAlgorithmIdentifierEx(const char* oid) : CAlgorithmIdentifier(oid) {}
  explicit CAlgorithmIdentifierEx(const CAlgorithmIdentifier& id, Platform::ALG_ID algId = 0)
      : CAlgorithmIdentifier(id), m_algId(algId) {}

  void swap(CAlgorithmIdentifierEx& other) noexcept;

  Platform::ALG_ID get_algId() const noexcept { return m_algId; }
  void put_algId(Platform::ALG_ID algId) noexcept { m_algId = algId; }

  // As the base, and the cached ALG_ID becomes 0.
  void put_algorithm(const char* oid);
  void decode(const CBlob& der);
  void read(const Der::Element& e);  // codec-internal

 private:
  Platform::ALG_ID m_algId = 0;
};

inline void swap(CAlgorithmIdentifier& a, CAlgorithmIdentifier& b) noexcept {
  a.swap(b);
}
inline void swap(CAlgorithmIdentifierEx& a, CAlgorithmIdentifierEx& b) noexcept {
  a.swap(b);
}

}  // namespace Velmora::ASN1
