// Writes the evidence records of a freshly stamped hash tree, one leaf after another, each
// straight into one reused buffer: the record of a tree of a million leaves is a few hundred bytes
// of path in front of the same time stamp, and nesting writers would copy the stamp once per
// level. The bytes are those CEvidenceRecord::encode() gives for the same record:
//   EvidenceRecord { v1, { algorithm }, { { ArchiveTimeStamp {
//       [0] algorithm, [2] reducedHashtree (left out when the path is empty), timeStamp } } } }
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/der/der_writer.h"
#include "codec/stampmsg/token.h"

namespace Velmora::PKI::ERS {

// A reduced hash tree as views into hashes kept elsewhere: all values, list after list, and the
// number of values of each list. Reused from leaf to leaf without allocating.
struct CHashPath {
  std::vector<ASN1::Der::Bytes> values;
  std::vector<std::size_t> counts;

  void clear() noexcept {
    values.clear();
    counts.clear();
  }
};

class CLeafRecordWriter {
 public:
  // The writer of records under one time stamp whose tree hashes with `algorithm`. Throws
  // ERROR_INVALID_STATE for an empty token.
  CLeafRecordWriter(const ASN1::CAlgorithmIdentifierEx& algorithm, const TSP::CToken& token);

  // Writes the record of the leaf whose path is `path` into `out`, replacing what it held.
  void write(const CHashPath& path, ASN1::Der::Writer& out) const;

 private:
  std::vector<std::uint8_t> m_algorithm;  // the AlgorithmIdentifier's whole DER
  ASN1::Der::Bytes m_algorithmContent;    // its content octets, written under [0]
  ASN1::Der::Bytes m_token;
};

}  // namespace Velmora::PKI::ERS
