// Matching of distinguished names as certificate path validation does it: two names are the same
// when they hold the same attributes RDN by RDN, whatever the order of the attributes inside one
// RDN. Values of the directory string types (PrintableString, UTF8String, BMPString,
// UniversalString, TeletexString) match whatever their string type, without regard to case and
// with runs of white space counted as one space and leading or trailing ones not counted (LDAP
// string preparation); values of any other type match byte for byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

// A key of the name such that two names match exactly when their keys are equal. A name that
// does not decode has its own bytes as key (marked so that it equals no decoded name), so it
// matches only itself byte for byte.
std::string NameMatchKey(std::span<const std::uint8_t> der);
std::string NameMatchKey(const CERT_NAME_BLOB& name);

bool NamesMatch(const CERT_NAME_BLOB& a, const CERT_NAME_BLOB& b);

}  // namespace Velmora::Platform::Capi
