#include "platform/capi/distribution_points.h"

#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/capi/cert_name_match.h"
#include "platform/capi/general_name.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;

// One GeneralName's key; a directoryName's Name DER goes to `directoryName` when asked for.
std::string KeyOf(const Der::Element& element, std::vector<std::uint8_t>* directoryName = nullptr) {
  const GeneralName name = ReadGeneralName(element);
  if (name.form == NameForm::Directory && directoryName != nullptr) {
    *directoryName = name.value;
  }
  return GeneralNameKey(name);
}

std::vector<std::string> NameKeys(const Der::Element& names) {
  std::vector<std::string> keys;
  Der::Reader reader = names.children();
  while (!reader.empty()) {
    keys.push_back(KeyOf(reader.next()));
  }
  if (keys.empty()) {
    AtlThrow(CRYPT_E_ASN1_ERROR);  // GeneralNames has at least one name
  }
  return keys;
}

DistributionPointName ReadName(const Der::Element& choice, std::vector<std::string>* urls) {
  DistributionPointName name;
  name.present = true;
  Der::Reader reader = choice.children();
  const Der::Element inner = reader.next();
  reader.finish();
  if (inner.tag == Der::ContextTag(0, true)) {
    name.fullNames = NameKeys(inner);
    if (urls != nullptr) {
      Der::Reader names = inner.children();
      while (!names.empty()) {
        if (auto url = HttpUrlOf(ReadGeneralName(names.next()))) {
          urls->push_back(std::move(*url));
        }
      }
    }
  } else if (inner.tag == Der::ContextTag(1, true)) {
    // Re-tagged as the SET it stands for, so it can be put inside a Name.
    Der::Writer set;
    set.tlv(Der::Tags::Set, inner.content);
    name.relative = set.take();
  } else {
    AtlThrow(CRYPT_E_ASN1_BADTAG);
  }
  return name;
}

std::uint32_t ReadReasons(const Der::Element& flags) {
  if (flags.content.empty() || flags.content[0] > 7) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  std::uint32_t mask = 0;
  for (std::size_t i = 1; i < flags.content.size() && i <= 2; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      if ((flags.content[i] & (0x80 >> bit)) != 0) {
        mask |= 1u << ((i - 1) * 8 + static_cast<std::size_t>(bit));
      }
    }
  }
  return mask & kAllReasons;
}

bool ReadFlag(const Der::Element& flag) {
  if (flag.content.size() != 1) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  return flag.content[0] != 0;
}

}  // namespace

std::string DirectoryNameKey(const std::string& nameKey) {
  return std::string(1, static_cast<char>(NameForm::Directory)) + nameKey;
}

std::vector<std::string> DistributionPointName::keys(
    std::span<const std::uint8_t> issuerName) const {
  if (relative.empty()) {
    return fullNames;
  }
  // The issuer's RDNs, then this one.
  const Der::Element issuer = Der::ReadSingle(issuerName);
  std::vector<std::uint8_t> content(issuer.content.begin(), issuer.content.end());
  content.insert(content.end(), relative.begin(), relative.end());
  Der::Writer name;
  name.tlv(Der::Tags::Sequence, content);
  return {DirectoryNameKey(NameMatchKey(name.bytes()))};
}

std::vector<DistributionPoint> ReadDistributionPoints(std::span<const std::uint8_t> value) {
  std::vector<DistributionPoint> points;
  Der::Reader reader = Der::ReadSingle(value).children();
  while (!reader.empty()) {
    DistributionPoint point;
    Der::Reader fields = reader.expect(Der::Tags::Sequence).children();
    if (const auto name = fields.optional(Der::ContextTag(0, true))) {
      point.name = ReadName(*name, &point.httpUrls);
    }
    if (const auto reasons = fields.optional(Der::ContextTag(1, false))) {
      point.reasons = ReadReasons(*reasons);
    }
    if (const auto issuer = fields.optional(Der::ContextTag(2, true))) {
      Der::Reader names = issuer->children();
      while (!names.empty()) {
        std::vector<std::uint8_t> directoryName;
        point.crlIssuer.push_back(KeyOf(names.next(), &directoryName));
        if (!directoryName.empty()) {
          point.crlIssuerNames.push_back(std::move(directoryName));
        }
      }
    }
    fields.finish();
    if (!point.name.present && point.crlIssuer.empty()) {
      AtlThrow(CRYPT_E_ASN1_ERROR);  // a point must name something
    }
    points.push_back(std::move(point));
  }
  return points;
}

IssuingDistributionPoint ReadIssuingDistributionPoint(std::span<const std::uint8_t> value) {
  IssuingDistributionPoint point;
  Der::Reader fields = Der::ReadSingle(value).children();
  if (const auto name = fields.optional(Der::ContextTag(0, true))) {
    point.name = ReadName(*name, nullptr);
  }
  const auto flag = [&](std::uint32_t number, bool& out) {
    if (const auto element = fields.optional(Der::ContextTag(number, false))) {
      out = ReadFlag(*element);
    }
  };
  flag(1, point.onlyUser);
  flag(2, point.onlyCa);
  if (const auto reasons = fields.optional(Der::ContextTag(3, false))) {
    point.reasons = ReadReasons(*reasons);
  }
  flag(4, point.indirect);
  flag(5, point.onlyAttribute);
  fields.finish();
  return point;
}

std::vector<std::string> ReadGeneralNameKeys(std::span<const std::uint8_t> value) {
  return NameKeys(Der::ReadSingle(value));
}

}  // namespace Velmora::Platform::Capi
