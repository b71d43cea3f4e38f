// GeneralName, read once for every reader that meets one (name constraints, distribution points,
// CRL entries' certificateIssuer, responder locations):
//
//   GeneralName ::= CHOICE { otherName [0], rfc822Name [1] IA5String, dNSName [2] IA5String,
//     x400Address [3], directoryName [4] Name (explicit), ediPartyName [5],
//     uniformResourceIdentifier [6] IA5String, iPAddress [7] OCTET STRING, registeredID [8] }
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/der/der_reader.h"

namespace Velmora::Platform::Capi {

// GeneralName choices by their context tag number.
enum class NameForm : std::uint8_t {
  Other = 0,
  Rfc822 = 1,
  Dns = 2,
  X400 = 3,
  Directory = 4,
  EdiParty = 5,
  Uri = 6,
  IpAddress = 7,
  RegisteredId = 8,
};

// One GeneralName: its form and value (the string's or address's octets; for a directoryName
// the whole DER of the Name; for the other forms the content octets as received).
struct GeneralName {
  NameForm form;
  std::vector<std::uint8_t> value;
};

// One GeneralName element. An iPAddress has 4 or 16 octets times `addressFactor`: 1 for a name,
// 2 (with the mask) for a name constraint's base. Throws the codec's exception when malformed.
GeneralName ReadGeneralName(const ASN1::Der::Element& e, std::size_t addressFactor = 1);

// GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName. Throws the codec's exception when the
// value is malformed (an iPAddress of other than 4 or 16 octets among them).
std::vector<GeneralName> DecodeGeneralNames(std::span<const std::uint8_t> der);
// A key under which two names compare as path validation compares them: the form, then for a
// directoryName the name's match key (cert_name_match.h), else the value's octets.
std::string GeneralNameKey(const GeneralName& name);

// The http URL of a uniformResourceIdentifier; nothing for other names, other schemes and URLs
// with a NUL.
std::optional<std::string> HttpUrlOf(const GeneralName& name);

}  // namespace Velmora::Platform::Capi
