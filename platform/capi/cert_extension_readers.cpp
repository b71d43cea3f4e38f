// Readers of the certificate extensions that chains are judged by.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/der/der_reader.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace Der = ASN1::Der;

const CERT_EXTENSION* FindExtension(const CERT_INFO& info, std::string_view oid) {
  for (DWORD i = 0; i < info.cExtension; ++i) {
    if (info.rgExtension[i].pszObjId != nullptr && oid == info.rgExtension[i].pszObjId) {
      return &info.rgExtension[i];
    }
  }
  return nullptr;
}

std::optional<BasicConstraints> ReadBasicConstraints(const CERT_INFO& info, bool& malformed) {
  malformed = false;
  const CERT_EXTENSION* extension = FindExtension(info, kOidBasicConstraints);
  if (extension == nullptr) {
    return std::nullopt;
  }
  try {
    BasicConstraints result;
    const Der::Element sequence =
        Der::ReadSingle(Der::Bytes(extension->Value.pbData, extension->Value.cbData));
    Der::Reader members = sequence.children();
    if (auto ca = members.optional(Der::Tags::Boolean)) {
      result.ca = Der::ReadBoolean(*ca);
    }
    if (auto length = members.optional(Der::Tags::Integer)) {
      result.pathLength = Der::ReadSmallUnsigned(*length, 0xFFFFFFFFu);
    }
    members.finish();
    return result;
  } catch (const CAtlException&) {
    malformed = true;
    return std::nullopt;
  }
}

std::optional<std::vector<std::string>> ReadKeyPurposes(const CRYPT_OBJID_BLOB& value) {
  try {
    std::vector<std::string> purposes;
    const Der::Element sequence = Der::ReadSingle(Der::Bytes(value.pbData, value.cbData));
    Der::Reader members = sequence.children();
    while (!members.empty()) {
      purposes.push_back(Der::ReadOid(members.next()));
    }
    return purposes;
  } catch (const CAtlException&) {  // the caller then allows no purpose
    return std::nullopt;
  }
}

bool KeyUsageAllows(const CERT_INFO& info, int bit) {
  const CERT_EXTENSION* extension = FindExtension(info, kOidKeyUsage);
  if (extension == nullptr) {
    return true;
  }
  try {
    const Der::Element bits =
        Der::ReadSingle(Der::Bytes(extension->Value.pbData, extension->Value.cbData));
    const Der::BitString value = Der::ReadBitString(bits);
    const auto octet = static_cast<std::size_t>(bit / 8);
    return octet < value.bytes.size() && (value.bytes[octet] & (0x80 >> (bit % 8))) != 0;
  } catch (const CAtlException&) {
    return false;
  }
}

bool IsUnderstoodCriticalExtension(std::string_view oid) {
  static constexpr std::string_view kUnderstood[] = {
      "2.5.29.19",              // basicConstraints
      "2.5.29.15",              // keyUsage
      "2.5.29.37",              // extKeyUsage
      "2.5.29.17",              // subjectAltName
      "2.5.29.18",              // issuerAltName
      "2.5.29.30",              // nameConstraints
      "2.5.29.36",              // policyConstraints
      "2.5.29.32",              // certificatePolicies
      "2.5.29.33",              // policyMappings
      "2.5.29.54",              // inhibitAnyPolicy
      "2.5.29.14",              // subjectKeyIdentifier
      "2.5.29.35",              // authorityKeyIdentifier
      "1.3.6.1.4.1.311.21.10",  // application policies
  };
  for (std::string_view known : kUnderstood) {
    if (oid == known) {
      return true;
    }
  }
  return false;
}

std::optional<std::vector<std::uint8_t>> ReadAuthorityKeyId(const CERT_INFO& info) {
  const CERT_EXTENSION* extension = FindExtension(info, kOidAuthorityKeyId);
  if (extension == nullptr) {
    return std::nullopt;
  }
  try {
    const Der::Element aki =
        Der::ReadSingle(Der::Bytes(extension->Value.pbData, extension->Value.cbData));
    if (aki.tag != Der::Tags::Sequence) {
      return std::nullopt;
    }
    Der::Reader members = aki.children();
    if (auto id = members.optional(Der::ContextTag(0, false))) {
      return std::vector<std::uint8_t>(id->content.begin(), id->content.end());
    }
  } catch (const CAtlException&) {
    // A malformed identifier names no issuer: the names and signatures still choose.
  }
  return std::nullopt;
}

}  // namespace Velmora::Platform::Capi
