// The revocation data a SignedData carries in its crls field, sorted into what a path validator
// can use: CRLs, and OCSP responses as RFC 5940 carries them (and as older signers did, the bare
// BasicOCSPResponse under id-pkix-ocsp-basic).
//
//   RevocationInfoChoice ::= CHOICE {
//     crl   CertificateList,                          -- SEQUENCE
//     other [1] IMPLICIT OtherRevocationInfoFormat }
//   OtherRevocationInfoFormat ::= SEQUENCE {
//     otherRevInfoFormat OBJECT IDENTIFIER,
//     otherRevInfo       ANY DEFINED BY otherRevInfoFormat }
//   id-ri-ocsp-response: otherRevInfo is an OCSPResponse
//   id-pkix-ocsp-basic:  otherRevInfo is a BasicOCSPResponse
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"

namespace Velmora::ASN1 {

namespace RevocationOids {
inline constexpr const char* OcspResponse = "1.3.6.1.5.5.7.16.2";  // id-ri-ocsp-response
inline constexpr const char* OcspBasic = "1.3.6.1.5.5.7.48.1.1";   // id-pkix-ocsp-basic
}  // namespace RevocationOids

struct CRevocationInfo {
  enum class Kind { Crl, OcspResponse, Other };
  Kind kind = Kind::Other;
  // Crl: the CertificateList as received. OcspResponse: an OCSPResponse; a bare
  // BasicOCSPResponse is wrapped into a successful one that holds its bytes as received.
  // Other: empty.
  std::vector<std::uint8_t> der;
  // Other: the dotted otherRevInfoFormat.
  std::string format;
};

// Reads one RevocationInfoChoice as CSignedData::get_crls() hands it out. Throws the codec's ASN.1
// code for a choice that does not decode; an unknown otherRevInfoFormat is Kind::Other, not a
// failure.
CRevocationInfo ReadRevocationInfo(const CBlob& choice);

// Every choice of the list that decodes, in order; the others are left out.
std::vector<CRevocationInfo> ReadRevocationInfos(const CBlobList* choices);

}  // namespace Velmora::ASN1
