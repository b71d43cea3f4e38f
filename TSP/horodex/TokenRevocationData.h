// The revocation data a time-stamp token carries (CRLs and OCSP responses in its SignedData's
// crls field), handed to the chain engine while the TSA certificate's chain is built: the first
// source the engine asks, before the caller's stores, the store folders, the cache and the
// network.
#pragma once

#include "codec/corekit/blob.h"
#include "codec/corekit/linked_list.h"
#include "platform/text/types.h"

namespace Velmora::PKI::TSP::Client {

class TokenRevocationData {
 public:
  // Gives the chains this thread builds the data of a token's crls field (`crls`, the choices of
  // its SignedData; null or empty when it carries none) until the object goes, the time at which
  // the data of every source must be fresh (null: now), and REVOCATION_DATA_* flags.
  TokenRevocationData(const CBlobList* crls, const Platform::FILETIME* checkTime,
                      Platform::DWORD flags);
  ~TokenRevocationData();
  TokenRevocationData(const TokenRevocationData&) = delete;
  TokenRevocationData& operator=(const TokenRevocationData&) = delete;
};

}  // namespace Velmora::PKI::TSP::Client
