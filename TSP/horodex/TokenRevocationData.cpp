#include "TSP/horodex/TokenRevocationData.h"

#include "codec/cms/revocation_info.h"

namespace Velmora::PKI::TSP::Client {

namespace {

Platform::CRYPT_DATA_BLOB BlobOf(const std::vector<std::uint8_t>& der) {
  return {static_cast<Platform::DWORD>(der.size()), const_cast<Platform::BYTE*>(der.data())};
}

}  // namespace

TokenRevocationData::TokenRevocationData(const CBlobList* tokenCrls,
                                         const Platform::FILETIME* checkTime,
                                         Platform::DWORD flags) {
  std::vector<ASN1::CRevocationInfo> infos = ASN1::ReadRevocationInfos(tokenCrls);
  m_der.reserve(infos.size());
  for (ASN1::CRevocationInfo& info : infos) {
    if (info.kind == ASN1::CRevocationInfo::Kind::Crl) {
      m_crls.push_back(BlobOf(m_der.emplace_back(std::move(info.der))));
    } else if (info.kind == ASN1::CRevocationInfo::Kind::OcspResponse) {
      m_responses.push_back(BlobOf(m_der.emplace_back(std::move(info.der))));
    }
  }
  m_blobs = {static_cast<Platform::DWORD>(m_crls.size()),
             m_crls.data(),
             static_cast<Platform::DWORD>(m_responses.size()),
             m_responses.data(),
             checkTime,
             flags};
}

}  // namespace Velmora::PKI::TSP::Client
