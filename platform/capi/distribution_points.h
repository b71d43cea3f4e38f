// Where a certificate's revocation is published and what part of it a CRL covers, read with our
// own DER reader, one reader for both sides:
//
//   CRLDistributionPoints ::= SEQUENCE OF DistributionPoint        (certificate, also freshestCRL)
//   DistributionPoint ::= SEQUENCE { distributionPoint [0] DistributionPointName OPTIONAL,
//       reasons [1] ReasonFlags OPTIONAL, cRLIssuer [2] GeneralNames OPTIONAL }
//   IssuingDistributionPoint ::= SEQUENCE {                         (CRL)
//       distributionPoint [0] DistributionPointName OPTIONAL,
//       onlyContainsUserCerts [1] BOOLEAN DEFAULT FALSE, onlyContainsCACerts [2] BOOLEAN DEFAULT
//       FALSE, onlySomeReasons [3] ReasonFlags OPTIONAL, indirectCRL [4] BOOLEAN DEFAULT FALSE,
//       onlyContainsAttributeCerts [5] BOOLEAN DEFAULT FALSE }
//   DistributionPointName ::= CHOICE { fullName [0] GeneralNames,
//       nameRelativeToCRLIssuer [1] RelativeDistinguishedName }
//
// Names are kept as keys that compare as path validation compares them: a directoryName by its
// name match key (cert_name_match.h), any other GeneralName by its tag and content octets.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

// ReasonFlags as a mask: bit n is the BIT STRING's bit n (1 keyCompromise ... 8 aACompromise).
inline constexpr std::uint32_t kAllReasons = 0x1FE;

// The key of a directoryName GeneralName whose Name has the match key `nameKey`.
std::string DirectoryNameKey(const std::string& nameKey);

struct DistributionPointName {
  bool present = false;
  std::vector<std::string> fullNames;  // GeneralName keys
  // nameRelativeToCRLIssuer: the RDN's encoding (a SET), to be put after the CRL issuer's name.
  std::vector<std::uint8_t> relative;

  // The keys of the names it gives, a relative name completed with `issuerName` (a Name's DER).
  std::vector<std::string> keys(std::span<const std::uint8_t> issuerName) const;
};

struct DistributionPoint {
  DistributionPointName name;
  std::uint32_t reasons = kAllReasons;
  std::vector<std::string> crlIssuer;                     // GeneralName keys
  std::vector<std::vector<std::uint8_t>> crlIssuerNames;  // the directoryNames' DER
  std::vector<std::string> httpUrls;                      // the full name's http URIs
};

struct IssuingDistributionPoint {
  DistributionPointName name;
  bool onlyUser = false;
  bool onlyCa = false;
  bool onlyAttribute = false;
  bool indirect = false;
  std::uint32_t reasons = kAllReasons;
};

// Readers of the extension values; CRYPT_E_ASN1_* (CAtlException) for values that do not decode.
std::vector<DistributionPoint> ReadDistributionPoints(std::span<const std::uint8_t> value);
IssuingDistributionPoint ReadIssuingDistributionPoint(std::span<const std::uint8_t> value);
// The keys of a GeneralNames value (a certificateIssuer entry extension).
std::vector<std::string> ReadGeneralNameKeys(std::span<const std::uint8_t> value);

}  // namespace Velmora::Platform::Capi
