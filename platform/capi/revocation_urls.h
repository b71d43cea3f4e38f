// Where a certificate says its revocation status is told, read from its extensions with our own
// DER reader (a certificate met for the first time then needs no decoding by OpenSSL); the
// distribution points are read by distribution_points.h.
//
//   AuthorityInfoAccessSyntax ::= SEQUENCE OF AccessDescription
//   AccessDescription ::= SEQUENCE { accessMethod OID, accessLocation GeneralName }
//   GeneralName uniformResourceIdentifier: [6] IMPLICIT IA5String
#pragma once

#include <string>
#include <vector>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

// The http URLs of the OCSP responders (accessMethod id-ad-ocsp) of an authorityInfoAccess value,
// in order. A value that does not decode gives none.
std::vector<std::string> OcspUrlsIn(const CRYPT_OBJID_BLOB& authorityInfoAccess);
// The http URLs of the full names of the distribution points of a cRLDistributionPoints value, in
// order. A value that does not decode gives none.
std::vector<std::string> CrlUrlsIn(const CRYPT_OBJID_BLOB& distributionPoints);

// The same for a certificate's authorityInfoAccess (none when it has no such extension). Its
// distribution points' URLs are among its chain facts.
std::vector<std::string> OcspUrlsOf(const CERT_INFO& info);

}  // namespace Velmora::Platform::Capi
