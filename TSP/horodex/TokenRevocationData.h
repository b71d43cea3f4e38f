// The revocation data a time-stamp token carries (CRLs and OCSP responses in its SignedData's
// crls field), in the form the chain engine takes it with a chain (CERT_CHAIN_PARA's
// pRevocationData): the first source the engine asks, before the caller's stores, the store
// folders, the cache and the network.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "platform/capi/wincrypt_revocation.h"

namespace Velmora::PKI::TSP::Client {

class TokenRevocationData {
 public:
  // The data of a token's crls field (`crls`, the choices of its SignedData; null or empty when
  // it carries none), the time at which the data of every source must be fresh (null: now), and
  // REVOCATION_DATA_* flags. `checkTime` must outlive the object.
  TokenRevocationData(const CBlobList* crls, const Platform::FILETIME* checkTime,
                      Platform::DWORD flags);
  TokenRevocationData(const TokenRevocationData&) = delete;
  TokenRevocationData& operator=(const TokenRevocationData&) = delete;

  // Valid while the object lives.
  const Platform::REVOCATION_DATA_BLOBS* blobs() const { return &m_blobs; }

 private:
  std::vector<std::vector<std::uint8_t>> m_der;
  std::vector<Platform::CRYPT_DATA_BLOB> m_crls;
  std::vector<Platform::CRYPT_DATA_BLOB> m_responses;
  Platform::REVOCATION_DATA_BLOBS m_blobs{};
};

}  // namespace Velmora::PKI::TSP::Client
