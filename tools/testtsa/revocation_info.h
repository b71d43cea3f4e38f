// Revocation data in the test TSA's tokens, as real TSAs put it there: CRLs and OCSP responses in
// the SignedData's crls field (an OCSPResponse as RFC 5940's id-ri-ocsp-response).
#pragma once

#include <string>
#include <vector>

namespace TestTsa {

// The token (a DER ContentInfo with SignedData and no crls field yet) with `items` in a crls field
// placed before its signerInfos: each a DER CRL or a DER OCSPResponse. The signature stays good:
// the field is outside what is signed.
std::string WithRevocationInfo(const std::string& token, const std::vector<std::string>& items);

// One DER element of a one-byte tag over `content`.
std::string DerElement(unsigned char tag, const std::string& content);

}  // namespace TestTsa
