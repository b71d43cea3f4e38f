// TSP::CResponse: an RFC 3161 TimeStampResp.
//
//   TimeStampResp ::= SEQUENCE {
//     status          PKIStatusInfo,
//     timeStampToken  TimeStampToken OPTIONAL }
//
// The status and the presence of a token are reported as received: a granted status without a
// token, or a refusal with one, decodes, and the caller judges it. Trailing bytes after the
// response, or after its members, are refused. A failed decode leaves the response as it was.
#pragma once

#include <span>
#include <utility>

#include "codec/asnkit/pki_status.h"
#include "codec/corekit/blob.h"
#include "codec/stampmsg/token.h"

namespace Velmora::PKI::TSP {

class CResponse {
 public:
  CResponse() = default;

  // Reads one whole TimeStampResp; the token's own faults throw as CToken::decode says.
  void decode(const CBlob& encoded);
  void decode(std::span<const unsigned char> encoded);
  // The response exactly as received; empty for a default object.
  const CBlob& encode() const noexcept { return m_encoded; }

  const ASN1::CPKIStatusInfo& get_status() const noexcept { return m_status; }
  // The token, or null when the response carries none.
  const CToken* get_timeStampToken() const noexcept { return m_hasToken ? &m_token : nullptr; }
  // The token, moved out of a response that is not used afterwards.
  CToken takeToken() && { return std::move(m_token); }

 private:
  ASN1::CPKIStatusInfo m_status;
  bool m_hasToken = false;
  CToken m_token;
  CBlob m_encoded;
};

}  // namespace Velmora::PKI::TSP
