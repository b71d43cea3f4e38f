// TSP::CRequest: an RFC 3161 TimeStampReq.
//
//   TimeStampReq ::= SEQUENCE {
//     version        INTEGER { v1(1) },
//     messageImprint MessageImprint,
//     reqPolicy      TSAPolicyId             OPTIONAL,
//     nonce          INTEGER                 OPTIONAL,
//     certReq        BOOLEAN                 DEFAULT FALSE,
//     extensions     [0] IMPLICIT Extensions OPTIONAL }
//
// A request is built from its fields and encoded in DER, or decoded from received bytes; a
// decoded request that has not been changed encodes back to exactly the bytes it came from.
// Decoding is strict about structure (tags, required fields, field order, trailing bytes) with
// the reader's named BER tolerances and certReq written out as FALSE; a failed decode leaves the
// request as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/big_integer.h"
#include "codec/asnkit/extensions.h"
#include "codec/corekit/blob.h"

namespace Velmora::PKI::TSP {

class CRequest {
 public:
  // An empty request; encode() refuses it (its hash algorithm is not set).
  CRequest() = default;
  // A version 1 request for the given imprint, without policy, nonce or extensions.
  CRequest(const ASN1::CAlgorithmIdentifierEx& hashAlgorithm, const CBlob& hashedMessage,
           bool certReq);

  // Sets the nonce; null, or an empty integer (which stands for an absent value), leaves it out.
  // The value is kept in its shortest form, the form it is encoded and echoed in.
  void put_nonce(const ASN1::CBigInteger* nonce);
  // Sets the policy OID (dotted text); null leaves it out. Text that is not an OID throws
  // CRYPT_E_OID_FORMAT and changes nothing.
  void put_reqPolicy(const char* oid);

  // The DER: the received bytes for a decoded, unchanged request, else a fresh encoding.
  CBlob encode() const;
  // Reads one whole TimeStampReq.
  void decode(const CBlob& encoded);

  std::uint32_t get_version() const noexcept { return m_version; }
  const ASN1::CAlgorithmIdentifierEx& get_hashAlgorithm() const noexcept { return m_hashAlgorithm; }
  const CBlob& get_hashedMessage() const noexcept { return m_hashedMessage; }
  // Dotted OID text, or null when absent.
  const char* get_reqPolicy() const noexcept {
    return m_reqPolicy ? m_reqPolicy->c_str() : nullptr;
  }
  const ASN1::CBigInteger* get_nonce() const noexcept { return m_nonce ? &*m_nonce : nullptr; }
  bool get_certReq() const noexcept { return m_certReq; }
  // The request's extensions, or null when absent.
  const ASN1::CExtensions* get_extensions() const noexcept {
    return m_extensions ? &*m_extensions : nullptr;
  }

 private:
  std::uint32_t m_version = 1;
  ASN1::CAlgorithmIdentifierEx m_hashAlgorithm;
  CBlob m_hashedMessage;
  std::optional<std::string> m_reqPolicy;
  std::optional<ASN1::CBigInteger> m_nonce;
  bool m_certReq = false;
  std::optional<ASN1::CExtensions> m_extensions;
  CBlob m_received;  // the decoded bytes while the request is unchanged
};

}  // namespace Velmora::PKI::TSP
