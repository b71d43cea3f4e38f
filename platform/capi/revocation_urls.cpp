#include "platform/capi/revocation_urls.h"

#include "codec/der/der_reader.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/distribution_points.h"
#include "platform/capi/general_name.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;

constexpr const char* kOidOcsp = "1.3.6.1.5.5.7.48.1";

void TakeUri(const Der::Element& element, std::vector<std::string>& urls) {
  if (auto url = HttpUrlOf(ReadGeneralName(element))) {
    urls.push_back(std::move(*url));
  }
}

Der::Bytes BytesOf(const CRYPT_OBJID_BLOB& blob) {
  return Der::Bytes(blob.pbData, blob.cbData);
}

}  // namespace

std::vector<std::string> OcspUrlsIn(const CRYPT_OBJID_BLOB& authorityInfoAccess) {
  std::vector<std::string> urls;
  try {
    Der::Reader descriptions = Der::ReadSingle(BytesOf(authorityInfoAccess)).children();
    while (!descriptions.empty()) {
      Der::Reader description = descriptions.expect(Der::Tags::Sequence).children();
      const std::string method = Der::ReadOid(description.expect(Der::Tags::Oid));
      const Der::Element location = description.next();
      description.finish();
      if (method == kOidOcsp) {
        TakeUri(location, urls);
      }
    }
  } catch (const CAtlException&) {
    return {};
  }
  return urls;
}

std::vector<std::string> CrlUrlsIn(const CRYPT_OBJID_BLOB& distributionPoints) {
  std::vector<std::string> urls;
  try {
    for (DistributionPoint& point :
         ReadDistributionPoints({distributionPoints.pbData, distributionPoints.cbData})) {
      urls.insert(urls.end(), point.httpUrls.begin(), point.httpUrls.end());
    }
  } catch (const CAtlException&) {
    return {};
  }
  return urls;
}

std::vector<std::string> OcspUrlsOf(const CERT_INFO& info) {
  const CERT_EXTENSION* extension = FindExtension(info, kOidAuthorityInfoAccess);
  return extension != nullptr ? OcspUrlsIn(extension->Value) : std::vector<std::string>();
}

}  // namespace Velmora::Platform::Capi
