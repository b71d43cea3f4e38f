#include "TSP/horodex/TokenRevocationData.h"

#include <vector>

#include "codec/cms/revocation_info.h"
#include "platform/capi/wincrypt_revocation.h"

namespace Velmora::PKI::TSP::Client {

namespace {

Platform::CRYPT_DATA_BLOB BlobOf(const std::vector<std::uint8_t>& der) {
  return {static_cast<Platform::DWORD>(der.size()), const_cast<Platform::BYTE*>(der.data())};
}

}  // namespace

TokenRevocationData::TokenRevocationData(const CBlobList* tokenCrls,
                                         const Platform::FILETIME* checkTime,
                                         Platform::DWORD flags) {
  const std::vector<ASN1::CRevocationInfo> infos = ASN1::ReadRevocationInfos(tokenCrls);
  std::vector<Platform::CRYPT_DATA_BLOB> crls;
  std::vector<Platform::CRYPT_DATA_BLOB> responses;
  for (const ASN1::CRevocationInfo& info : infos) {
    if (info.kind == ASN1::CRevocationInfo::Kind::Crl) {
      crls.push_back(BlobOf(info.der));
    } else if (info.kind == ASN1::CRevocationInfo::Kind::OcspResponse) {
      responses.push_back(BlobOf(info.der));
    }
  }
  const Platform::REVOCATION_DATA_BLOBS data{static_cast<Platform::DWORD>(crls.size()),
                                             crls.data(),
                                             static_cast<Platform::DWORD>(responses.size()),
                                             responses.data(),
                                             checkTime,
                                             flags};
  Platform::CertSetRevocationDataForThread(&data);  // decodes and keeps its own copies
}

TokenRevocationData::~TokenRevocationData() {
  Platform::CertSetRevocationDataForThread(nullptr);
}

}  // namespace Velmora::PKI::TSP::Client
