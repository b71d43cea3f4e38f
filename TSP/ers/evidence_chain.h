// What verification and renewal share about a record's chains: the algorithm of a chain and the
// climb from a hash through a reduced hash tree to the root it leads to.
#pragma once

#include <string>

#include "TSP/ers/evidence_digest.h"
#include "codec/evidence/evidence_record.h"

namespace Velmora::PKI::ERS {

// The dotted OID a chain hashes with: its first archive time stamp's digestAlgorithm, else that
// stamp's imprint algorithm.
std::string ChainAlgorithm(const CArchiveTimeStampChain& chain);

// The root that `start` leads to through `tree`. The first list must hold `start`
// (CRYPT_E_HASH_VALUE otherwise); a first list of that one value is the value itself (as Bouncy
// Castle writes a leaf's first list), a longer one is hashed; every later list is hashed with the
// value climbed so far. A value of another size than the digest's throws NTE_BAD_HASH. No tree:
// `start` itself.
CBlob Climb(const CDigest& digest, Bytes start, const CReducedHashtree& tree);

}  // namespace Velmora::PKI::ERS
