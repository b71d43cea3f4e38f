// CEvidenceTree: the hash tree of many data objects, its one time stamp and each leaf's record.
#include <algorithm>
#include <optional>

#include "TSP/ers/evidence_chain.h"
#include "TSP/ers/evidence_digest.h"
#include "codec/evidence/evidence_record.h"
#include "codec/evidence/leaf_record_writer.h"
#include "horodex/EvidenceRecord.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::TSP::Client {

namespace Der = ASN1::Der;
using ERS::Bytes;

namespace {
const Platform::HRESULT kInvalidState = Platform::HRESULT_FROM_WIN32(Platform::ERROR_INVALID_STATE);
}  // namespace

struct CEvidenceTree::Impl {
  explicit Impl(const char* oid) : digest(oid == nullptr ? std::string() : std::string(oid)) {
    algorithm = ASN1::CAlgorithmIdentifierEx(digest.oid().c_str());
  }

  // A leaf made of several hashes: its members are groupValues[first .. first + count).
  struct Group {
    std::size_t leaf;
    std::size_t first;
    std::size_t count;
  };
  // A leaf that renews a record.
  struct Renewal {
    std::size_t leaf;
    bool timeStamp;  // else hash tree
    ERS::CEvidenceRecord record;
  };

  ERS::CDigest digest;
  ASN1::CAlgorithmIdentifierEx algorithm;
  std::vector<std::vector<std::uint8_t>> levels{1};  // levels[0]: the leaves, then up to the root
  std::vector<Group> groups;                         // by leaf, ascending
  std::vector<std::uint8_t> groupValues;
  std::vector<Renewal> renewals;  // by leaf, ascending
  bool built = false;
  TSP::CToken token;
  std::optional<ERS::CLeafRecordWriter> writer;

  std::size_t leaves() const { return levels[0].size() / digest.size(); }
  Bytes node(std::size_t level, std::size_t index) const {
    return Bytes(levels[level].data() + index * digest.size(), digest.size());
  }

  void checkOpen() const {
    if (!token.encode().empty()) {
      Platform::AtlThrow(kInvalidState);
    }
  }

  std::size_t addLeaf(Bytes value) {
    checkOpen();
    if (value.size() != digest.size()) {
      Platform::AtlThrow(Platform::NTE_BAD_HASH);
    }
    built = false;
    levels.resize(1);
    levels[0].insert(levels[0].end(), value.begin(), value.end());
    return leaves() - 1;
  }

  std::size_t addGroup(const std::vector<Bytes>& members) {
    checkOpen();
    for (const Bytes member : members) {
      if (member.size() != digest.size()) {
        Platform::AtlThrow(Platform::NTE_BAD_HASH);
      }
    }
    if (members.size() == 1) {
      return addLeaf(members[0]);
    }
    if (members.empty()) {
      Platform::AtlThrow(Platform::E_INVALIDARG);
    }
    const CBlob value = digest.hashSorted(members);
    const std::size_t first = groupValues.size() / digest.size();
    for (const Bytes member : members) {
      groupValues.insert(groupValues.end(), member.begin(), member.end());
    }
    const std::size_t leaf = addLeaf(value.span());
    groups.push_back(Group{leaf, first, members.size()});
    return leaf;
  }

  void build() {
    if (built) {
      return;
    }
    if (leaves() == 0) {
      Platform::AtlThrow(kInvalidState);
    }
    levels.resize(1);
    const std::size_t size = digest.size();
    while (levels.back().size() > size) {
      const std::vector<std::uint8_t>& below = levels.back();
      const std::size_t count = below.size() / size;
      std::vector<std::uint8_t> above(((count + 1) / 2) * size);
      for (std::size_t i = 0; i + 1 < count; i += 2) {
        digest.hashPair(Bytes(below.data() + i * size, size),
                        Bytes(below.data() + (i + 1) * size, size), above.data() + i / 2 * size);
      }
      if (count % 2 == 1) {  // the last node of an odd level goes up unchanged
        std::copy_n(below.data() + (count - 1) * size, size, above.data() + (count - 1) / 2 * size);
      }
      levels.push_back(std::move(above));
    }
    built = true;
  }

  const Group* groupOf(std::size_t leaf) const {
    const auto it = std::lower_bound(groups.begin(), groups.end(), leaf,
                                     [](const Group& g, std::size_t l) { return g.leaf < l; });
    return it != groups.end() && it->leaf == leaf ? &*it : nullptr;
  }
  const Renewal* renewalOf(std::size_t leaf) const {
    const auto it = std::lower_bound(renewals.begin(), renewals.end(), leaf,
                                     [](const Renewal& r, std::size_t l) { return r.leaf < l; });
    return it != renewals.end() && it->leaf == leaf ? &*it : nullptr;
  }

  // The lists from leaf `leaf` up: its first list the group's members or the leaf's own value
  // alone, then one sibling for every level where there is one. (A first list with the siblings
  // in it, as RFC 4998's example has, would prove the siblings' data too: a record for one
  // document would verify against its neighbour. Bouncy Castle writes and reads this form.)
  void path(std::size_t leaf, ERS::CHashPath& out) const {
    out.clear();
    bool first = true;
    if (const Group* group = groupOf(leaf)) {
      for (std::size_t i = 0; i < group->count; ++i) {
        out.values.emplace_back(groupValues.data() + (group->first + i) * digest.size(),
                                digest.size());
      }
      out.counts.push_back(group->count);
      first = false;
    }
    std::size_t position = leaf;
    for (std::size_t level = 0; level + 1 < levels.size(); ++level, position /= 2) {
      const std::size_t sibling = position ^ 1;
      if (sibling >= levels[level].size() / digest.size()) {
        continue;
      }
      if (first) {
        out.values.push_back(node(0, leaf));
        out.counts.push_back(1);
        first = false;
      }
      out.values.push_back(node(level, sibling));
      out.counts.push_back(1);
    }
  }

  CBlob renewedRecord(const Renewal& renewal, const ERS::CHashPath& hashPath) const {
    ERS::CReducedHashtree tree;
    std::size_t next = 0;
    for (const std::size_t count : hashPath.counts) {
      ERS::CPartialHashtree& list = tree.emplace_back();
      for (std::size_t i = 0; i < count; ++i) {
        list.emplace_back(hashPath.values[next++]);
      }
    }
    ERS::CArchiveTimeStamp stamp;
    stamp.put_digestAlgorithm(&algorithm);
    stamp.put_reducedHashtree(std::move(tree));
    stamp.put_timeStamp(token);
    ERS::CEvidenceRecord record = renewal.record;
    if (renewal.timeStamp) {
      record.sequence().chains().back().push_back(std::move(stamp));
    } else {
      ERS::CArchiveTimeStampChain chain;
      chain.push_back(std::move(stamp));
      record.sequence().push_back(std::move(chain));
      record.addDigestAlgorithm(algorithm);
    }
    return record.encode();
  }

  void takeToken(const CStamp& stamp) {
    unsigned long length = 0;
    stamp.Export(nullptr, &length);
    CBlob der(length);
    stamp.Export(der.pbData(), &length);
    TSP::CToken read;
    read.decode(der);
    if (!(read.get_hashedMessage().span().size() == digest.size() &&
          std::equal(read.get_hashedMessage().span().begin(), read.get_hashedMessage().span().end(),
                     levels.back().begin()))) {
      Platform::AtlThrow(Platform::CRYPT_E_HASH_VALUE);
    }
    writer.emplace(algorithm, read);
    token = std::move(read);
  }
};

CEvidenceTree::CEvidenceTree(const char* hashOid) : m_impl(std::make_unique<Impl>(hashOid)) {}
CEvidenceTree::CEvidenceTree(CEvidenceTree&&) noexcept = default;
CEvidenceTree& CEvidenceTree::operator=(CEvidenceTree&&) noexcept = default;
CEvidenceTree::~CEvidenceTree() = default;

const char* CEvidenceTree::get_HashAlgOID() const {
  return m_impl->digest.oid().c_str();
}

unsigned long CEvidenceTree::get_HashSize() const {
  return static_cast<unsigned long>(m_impl->digest.size());
}

CBlob CEvidenceTree::Hash(const unsigned char* data, std::size_t length) const {
  if (data == nullptr && length != 0) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  return m_impl->digest.hash(Bytes(data, length));
}

std::size_t CEvidenceTree::AddHash(const unsigned char* hash, unsigned long length) {
  if (hash == nullptr) {
    Platform::AtlThrow(Platform::E_POINTER);
  }
  return m_impl->addLeaf(Bytes(hash, length));
}

std::size_t CEvidenceTree::AddGroup(const CBlob* hashes, std::size_t count) {
  if (hashes == nullptr && count != 0) {
    Platform::AtlThrow(Platform::E_POINTER);
  }
  std::vector<Bytes> members;
  for (std::size_t i = 0; i < count; ++i) {
    members.push_back(hashes[i].span());
  }
  return m_impl->addGroup(members);
}

std::size_t CEvidenceTree::AddTimeStampRenewal(const unsigned char* record, unsigned long length) {
  m_impl->checkOpen();
  ERS::CEvidenceRecord read;
  read.decode(CBlob(record, length));
  const ERS::CArchiveTimeStampChain& last = read.get_sequence().get_chains().back();
  if (ERS::ChainAlgorithm(last) != m_impl->digest.oid()) {
    Platform::AtlThrow(Platform::NTE_BAD_ALGID);  // a chain keeps its algorithm
  }
  const CBlob leaf = m_impl->digest.hash(last.get_items().back().get_timeStamp().encode().span());
  const std::size_t index = m_impl->addLeaf(leaf.span());
  m_impl->renewals.push_back(Impl::Renewal{index, true, std::move(read)});
  return index;
}

std::size_t CEvidenceTree::AddHashTreeRenewal(const unsigned char* record, unsigned long length,
                                              const CBlob* dataHashes, std::size_t count) {
  m_impl->checkOpen();
  if (count == 0 || dataHashes == nullptr) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  ERS::CEvidenceRecord read;
  read.decode(CBlob(record, length));
  const CBlob sequence = m_impl->digest.hash(read.get_sequence().encode().span());
  std::vector<CBlob> joined;
  for (std::size_t i = 0; i < count; ++i) {
    if (dataHashes[i].cbData() != m_impl->digest.size()) {
      Platform::AtlThrow(Platform::NTE_BAD_HASH);
    }
    joined.push_back(m_impl->digest.hashJoined(dataHashes[i].span(), sequence.span()));
  }
  std::vector<Bytes> members;
  for (const CBlob& value : joined) {
    members.push_back(value.span());
  }
  const std::size_t index = m_impl->addGroup(members);
  m_impl->renewals.push_back(Impl::Renewal{index, false, std::move(read)});
  return index;
}

std::size_t CEvidenceTree::size() const {
  return m_impl->leaves();
}

CBlob CEvidenceTree::Root() {
  m_impl->build();
  return CBlob(m_impl->levels.back());
}

CStamp& CEvidenceTree::Stamp(CRequest& request) {
  m_impl->checkOpen();
  const CBlob root = Root();
  request.put_DataHashAlg(m_impl->digest.oid().c_str());
  request.put_DataHash(root.pbData(), root.cbData());
  CStamp& stamp = request.Send(true);
  m_impl->takeToken(stamp);
  return stamp;
}

void CEvidenceTree::PutTimeStamp(const unsigned char* data, unsigned long length) {
  m_impl->checkOpen();
  m_impl->build();
  CStamp stamp;
  stamp.Import(data, length, nullptr);
  m_impl->takeToken(stamp);
}

CBlob CEvidenceTree::Record(std::size_t index) const {
  CBlob out;
  bool found = false;
  if (index < size() && !m_impl->token.encode().empty()) {
    ERS::CHashPath path;
    m_impl->path(index, path);
    if (const Impl::Renewal* renewal = m_impl->renewalOf(index)) {
      out = m_impl->renewedRecord(*renewal, path);
    } else {
      Der::Writer writer;
      m_impl->writer->write(path, writer);
      out = CBlob(writer.take());
    }
    found = true;
  }
  if (!found) {
    Platform::AtlThrow(index < size() ? kInvalidState : Platform::E_INVALIDARG);
  }
  return out;
}

void CEvidenceTree::ForEachRecord(
    const std::function<void(std::size_t, const unsigned char*, std::size_t)>& sink) const {
  if (m_impl->token.encode().empty()) {
    Platform::AtlThrow(kInvalidState);
  }
  ERS::CHashPath path;
  Der::Writer writer;
  const std::size_t count = size();
  for (std::size_t leaf = 0; leaf < count; ++leaf) {
    m_impl->path(leaf, path);
    if (const Impl::Renewal* renewal = m_impl->renewalOf(leaf)) {
      const CBlob record = m_impl->renewedRecord(*renewal, path);
      sink(leaf, record.pbData(), record.cbData());
    } else {
      m_impl->writer->write(path, writer);
      sink(leaf, writer.bytes().data(), writer.bytes().size());
    }
  }
}

}  // namespace Velmora::PKI::TSP::Client
