// Evidence records (RFC 4998): one time stamp proves the existence of many data objects through a
// hash tree, and is renewed before its algorithms weaken.
//
//   EvidenceRecord ::= SEQUENCE {
//     version                  INTEGER { v1(1) },
//     digestAlgorithms         SEQUENCE OF AlgorithmIdentifier,
//     cryptoInfos              [0] CryptoInfos OPTIONAL,      -- SEQUENCE SIZE (1..MAX) OF
//     Attribute encryptionInfo           [1] EncryptionInfo OPTIONAL, archiveTimeStampSequence
//     ArchiveTimeStampSequence }
//   EncryptionInfo ::= SEQUENCE { encryptionInfoType OBJECT IDENTIFIER,
//                                 encryptionInfoValue ANY DEFINED BY encryptionInfoType }
//   ArchiveTimeStampSequence ::= SEQUENCE OF ArchiveTimeStampChain
//   ArchiveTimeStampChain    ::= SEQUENCE OF ArchiveTimeStamp
//   ArchiveTimeStamp ::= SEQUENCE {
//     digestAlgorithm [0] AlgorithmIdentifier OPTIONAL,
//     attributes      [1] Attributes OPTIONAL,               -- SET SIZE (1..MAX) OF Attribute
//     reducedHashtree [2] SEQUENCE OF PartialHashtree OPTIONAL,
//     timeStamp       ContentInfo }                           -- an RFC 3161 TimeStampToken
//   PartialHashtree ::= SEQUENCE OF OCTET STRING
//
// The module's tags are IMPLICIT. Reading is strict as everywhere in the codec (tags, field order,
// required fields, trailing bytes at every level, the reader's named BER tolerances), and refuses
// what cannot prove anything: a version other than v1, an empty digestAlgorithms, an empty
// sequence, an empty chain, an empty reducedHashtree. Every part keeps the bytes it was read from
// and writes them back unchanged, since renewal hashes the previous stamps and chains as they
// were encoded; a part built here is written in DER. A failed decode leaves the object as it was
// and throws the codec's ASN.1 code (or the token's own codes for a timeStamp that is not a
// TimeStampToken).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/cms/attribute.h"
#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "codec/stampmsg/token.h"

namespace Velmora::PKI::ERS {

// One PartialHashtree: hash values, in the order received or given.
using CPartialHashtree = std::vector<CBlob>;
// A reducedHashtree: the lists from the leaf's (which holds the data object's own hash) upward.
using CReducedHashtree = std::vector<CPartialHashtree>;

class CArchiveTimeStamp {
 public:
  CArchiveTimeStamp() = default;

  // The hash algorithm of the tree; null when absent (the time stamp's imprint algorithm is meant).
  const ASN1::CAlgorithmIdentifierEx* get_digestAlgorithm() const noexcept {
    return m_digestAlgorithm ? &*m_digestAlgorithm : nullptr;
  }
  void put_digestAlgorithm(const ASN1::CAlgorithmIdentifierEx* algorithm);
  const ASN1::CAttributes* get_attributes() const noexcept {
    return m_attributes ? &*m_attributes : nullptr;
  }
  // The reduced hash tree; empty when absent (the stamp covers one hash directly).
  const CReducedHashtree& get_reducedHashtree() const noexcept { return m_reducedHashtree; }
  void put_reducedHashtree(CReducedHashtree tree);
  const TSP::CToken& get_timeStamp() const noexcept { return m_timeStamp; }
  void put_timeStamp(const TSP::CToken& token);

  // The encoding: as received while unchanged, else DER. An archive time stamp without a time
  // stamp throws ERROR_INVALID_STATE.
  CBlob encode() const;
  void decode(const CBlob& der);
  void read(const ASN1::Der::Element& element);  // codec-internal
  void write(ASN1::Der::Writer& writer) const;   // codec-internal

 private:
  std::optional<ASN1::CAlgorithmIdentifierEx> m_digestAlgorithm;
  std::optional<ASN1::CAttributes> m_attributes;
  CReducedHashtree m_reducedHashtree;
  TSP::CToken m_timeStamp;
  CBlob m_received;
};

// A SEQUENCE OF T that must not be empty, kept as received: read back, it writes the bytes it was
// read from until changed; built here, it is written in DER. Writing an empty one throws
// ERROR_INVALID_STATE.
template <typename T>
class CNonEmptySequenceOf {
 public:
  void push_back(T item) {
    m_items.push_back(std::move(item));
    m_received.clear();
  }

  CBlob encode() const;
  void decode(const CBlob& der);
  void read(const ASN1::Der::Element& element);  // codec-internal
  void write(ASN1::Der::Writer& writer) const;   // codec-internal

 protected:
  const std::vector<T>& items() const noexcept { return m_items; }
  // The items to change: the received bytes no longer stand for them.
  std::vector<T>& changeItems() noexcept {
    m_received.clear();
    return m_items;
  }

 private:
  std::vector<T> m_items;
  CBlob m_received;
};

// A chain: archive time stamps of one hash algorithm, each renewing the one before it.
class CArchiveTimeStampChain : public CNonEmptySequenceOf<CArchiveTimeStamp> {
 public:
  const std::vector<CArchiveTimeStamp>& get_items() const noexcept { return items(); }
};

// The chains in the order they were made: each later one renews the hash tree of all before it.
class CArchiveTimeStampSequence : public CNonEmptySequenceOf<CArchiveTimeStampChain> {
 public:
  const std::vector<CArchiveTimeStampChain>& get_chains() const noexcept { return items(); }
  std::vector<CArchiveTimeStampChain>& chains() noexcept { return changeItems(); }
};

// encode, decode, read and write of both are instantiated in evidence_record.cpp; the inline
// members are instantiated where they are used, so that an unoptimised program outside the
// library finds them too.

class CEvidenceRecord {
 public:
  std::uint32_t get_version() const noexcept { return 1; }
  const std::vector<ASN1::CAlgorithmIdentifierEx>& get_digestAlgorithms() const noexcept {
    return m_digestAlgorithms;
  }
  // Adds an algorithm unless the list has it already.
  void addDigestAlgorithm(const ASN1::CAlgorithmIdentifierEx& algorithm);
  // The whole cryptoInfos and encryptionInfo elements as received; null when absent.
  const CBlob* get_cryptoInfos() const noexcept {
    return m_cryptoInfos.empty() ? nullptr : &m_cryptoInfos;
  }
  const CBlob* get_encryptionInfo() const noexcept {
    return m_encryptionInfo.empty() ? nullptr : &m_encryptionInfo;
  }
  const CArchiveTimeStampSequence& get_sequence() const noexcept { return m_sequence; }
  CArchiveTimeStampSequence& sequence() noexcept {
    m_received.clear();
    return m_sequence;
  }

  CBlob encode() const;
  void decode(const CBlob& der);
  void read(const ASN1::Der::Element& element);  // codec-internal
  void write(ASN1::Der::Writer& writer) const;   // codec-internal

 private:
  std::vector<ASN1::CAlgorithmIdentifierEx> m_digestAlgorithms;
  CBlob m_cryptoInfos;     // the whole [0] element, as received
  CBlob m_encryptionInfo;  // the whole [1] element, as received
  CArchiveTimeStampSequence m_sequence;
  CBlob m_received;
};

}  // namespace Velmora::PKI::ERS
