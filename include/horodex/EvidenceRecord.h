// Evidence records (RFC 4998): many data objects under one time stamp, each with a record that
// proves its existence at the stamp's time by itself, and renewal of those records before their
// hash algorithm or the TSA's key weakens.
//
//   CEvidenceTree tree("2.16.840.1.101.3.4.2.1");        // SHA-256
//   for (const CBlob& hash : hashes) tree.AddHash(hash.pbData(), hash.cbData());
//   CRequest request;                                    // policies, proxy, authentication
//   request.put_TSAAddress(L"https://tsa.example/");
//   tree.Stamp(request);                                 // one exchange for the whole tree
//   tree.ForEachRecord([](std::size_t i, const unsigned char* der, std::size_t size) { ... });
//
//   CEvidenceReport report = VerifyEvidenceRecordData(der, size, data, dataSize, nullptr, 0);
//   if (report.result() == 0) { ... report.genTime ... }
//
// The tree keeps the hashes only (O(N x hash size) memory, never the data): the leaves in the
// order added, paired level by level, each node the hash of its children's values concatenated
// in binary ascending order; the last node of an odd level goes up unchanged. A data object
// that is a group (a document and its signature) is one leaf, the hash of its members' sorted
// hashes, and its record's first list holds the members. A leaf's record holds the lists of
// sibling values from the leaf up to the root (its first list the leaf's own value alone or the
// group's members, so that it proves that data object and no other) and the time stamp of the
// root; this is the form Bouncy Castle's ERS classes write and read.
//
// Renewal: AddTimeStampRenewal puts a record's newest time stamp under the tree (a new archive
// time stamp at the end of the record's last chain: the tree must use that chain's algorithm);
// AddHashTreeRenewal puts a record's data and its whole archive time-stamp sequence under the
// tree with the tree's (new) algorithm (a new chain). Many records renew under one stamp.
//
// Failures are thrown as Velmora::Platform::CAtlException with an HRESULT: NTE_BAD_ALGID for a
// hash algorithm the platform cannot compute, NTE_BAD_HASH for a hash of the wrong length,
// ERROR_INVALID_STATE for adding after the tree was stamped or records before it was, the
// codec's ASN.1 codes for a record that does not decode, and the failures of CRequest::Send.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"

namespace Velmora::PKI::TSP::Client {

class CEvidenceTree {
 public:
  // An empty tree hashing with the algorithm of the dotted OID.
  explicit CEvidenceTree(const char* hashOid);
  CEvidenceTree(CEvidenceTree&&) noexcept;
  CEvidenceTree& operator=(CEvidenceTree&&) noexcept;
  ~CEvidenceTree();

  const char* get_HashAlgOID() const;
  // The size of the algorithm's hash values in bytes.
  unsigned long get_HashSize() const;
  // The hash of `data` with the tree's algorithm, for callers that hash as they read.
  CBlob Hash(const unsigned char* data, std::size_t length) const;

  // Adds a data object by its hash and returns its leaf's index.
  std::size_t AddHash(const unsigned char* hash, unsigned long length);
  // Adds a data object made of several parts by their hashes (one hash is a plain data object).
  std::size_t AddGroup(const CBlob* hashes, std::size_t count);
  // Adds a record for timestamp renewal: the leaf is the hash of its newest time stamp.
  std::size_t AddTimeStampRenewal(const unsigned char* record, unsigned long length);
  // Adds a record for hash-tree renewal: `dataHashes` are its data object's hashes (the parts of
  // a group) under the tree's algorithm; each is joined to the hash of the record's sequence.
  std::size_t AddHashTreeRenewal(const unsigned char* record, unsigned long length,
                                 const CBlob* dataHashes, std::size_t count);
  std::size_t size() const;

  // The root's hash; builds the tree on first use (an empty tree throws ERROR_INVALID_STATE).
  CBlob Root();
  // Stamps the root through `request` (its hash algorithm and value are set to the tree's; the
  // policies, proxy and authentication of the request apply) with CRequest::Send(true), and
  // keeps the token. Nothing is kept when Send throws.
  CStamp& Stamp(CRequest& request);
  // Takes a time stamp obtained elsewhere for the root (a TimeStampResp or TimeStampToken):
  // CRYPT_E_HASH_VALUE when its imprint is not the root.
  void PutTimeStamp(const unsigned char* data, unsigned long length);

  // The DER evidence record of leaf `index` (E_INVALIDARG past the end).
  CBlob Record(std::size_t index) const;
  // Every record in leaf order; the bytes are valid during the call only.
  void ForEachRecord(
      const std::function<void(std::size_t, const unsigned char*, std::size_t)>& sink) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// One check of a record's verification, in the order made: for every archive time stamp
// "chain C stamp S" followed by "path" (from the data, or the stamp renewed, to the stamp's
// imprint), "signature", "TSA chain" and, after the first, "order".
struct CEvidenceCheck {
  std::string part;
  Platform::HRESULT result = 0;  // S_OK or the failure's code
  std::string detail;            // what was found: the hash algorithm, genTime, the TSA ...
};

struct CEvidenceReport {
  std::vector<CEvidenceCheck> checks;
  // The first stamp's genTime: when the data is proved to have existed.
  CDateTime genTime;
  // S_OK when every check passed, else the first failure's code (a record with no check is
  // refused with the check "record").
  Platform::HRESULT result() const noexcept;
};

// Verifies a record against a data object whose hash under a given algorithm `hashOf` returns
// (an empty blob when it cannot: NTE_BAD_ALGID). The stamps' TSA certificates are looked for in
// the token, `stores` and the user's "AddressBook", and judged at each stamp's genTime with the
// time-stamping chain policy. Never throws for a bad record: each fault is a failed check.
CEvidenceReport VerifyEvidenceRecord(const unsigned char* record, unsigned long length,
                                     const std::function<CBlob(const char* hashOid)>& hashOf,
                                     void** stores, unsigned long count);
// The same for data in memory.
CEvidenceReport VerifyEvidenceRecordData(const unsigned char* record, unsigned long length,
                                         const unsigned char* data, std::size_t dataLength,
                                         void** stores, unsigned long count);

// The hash of `data` under the dotted OID; an empty blob for an algorithm the platform cannot
// compute.
CBlob EvidenceHash(const char* hashOid, const unsigned char* data, std::size_t length);

}  // namespace Velmora::PKI::TSP::Client
