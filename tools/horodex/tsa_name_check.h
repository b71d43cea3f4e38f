// The TSTInfo's tsa name against the TSA certificate. The field is a hint (a stamp whose name
// differs stays valid), but OpenSSL refuses such a stamp when told to check the name, so the
// tool says so as a warning.
#pragma once

#include <string>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"

namespace Horodex {

inline constexpr const char* kTsaNameMismatch = "tsa name does not match the TSA certificate";

// The warning for `stamp` signed under `tsa`, or "" when the token names no TSA, the name
// corresponds to the certificate, or no certificate is at hand. The name corresponds when it is a
// directoryName equal to the certificate's subject (the RDNs in the same order) or equals one of
// its subjectAltName entries, as OpenSSL compares them; a name that does not decode does not.
std::string TsaNameWarning(const Velmora::PKI::TSP::Client::CStamp& stamp,
                           const Velmora::Platform::CERT_CONTEXT* tsa);

}  // namespace Horodex
