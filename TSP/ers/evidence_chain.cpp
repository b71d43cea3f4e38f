#include "TSP/ers/evidence_chain.h"

#include <algorithm>

#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::ERS {

std::string ChainAlgorithm(const CArchiveTimeStampChain& chain) {
  const CArchiveTimeStamp& first = chain.get_items().front();
  if (const ASN1::CAlgorithmIdentifierEx* algorithm = first.get_digestAlgorithm()) {
    return algorithm->get_algorithm();
  }
  return first.get_timeStamp().get_hashAlgorithm().get_algorithm();
}

CBlob Climb(const CDigest& digest, Bytes start, const CReducedHashtree& tree) {
  for (const CPartialHashtree& list : tree) {
    for (const CBlob& value : list) {
      if (value.cbData() != digest.size()) {
        Platform::AtlThrow(Platform::NTE_BAD_HASH);
      }
    }
  }
  if (start.size() != digest.size()) {
    Platform::AtlThrow(Platform::NTE_BAD_HASH);
  }
  CBlob current(start);
  for (std::size_t level = 0; level < tree.size(); ++level) {
    const CPartialHashtree& list = tree[level];
    std::vector<Bytes> values;
    for (const CBlob& value : list) {
      values.push_back(value.span());
    }
    if (level == 0) {
      const bool holds = std::any_of(list.begin(), list.end(),
                                     [&](const CBlob& value) { return value == current; });
      if (!holds) {
        Platform::AtlThrow(Platform::CRYPT_E_HASH_VALUE);
      }
      if (list.size() == 1) {
        continue;
      }
    } else {
      values.push_back(current.span());
    }
    current = digest.hashSorted(std::move(values));
  }
  return current;
}

}  // namespace Velmora::PKI::ERS
