#include "codec/evidence/evidence_record.h"

#include <algorithm>

#include "codec/asnkit/codec_util.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::ERS {

namespace Der = ASN1::Der;

namespace {

constexpr Der::Tag kDigestAlgorithmTag = Der::ContextTag(0, true);
constexpr Der::Tag kAttributesTag = Der::ContextTag(1, true);
constexpr Der::Tag kReducedHashtreeTag = Der::ContextTag(2, true);
constexpr Der::Tag kCryptoInfosTag = Der::ContextTag(0, true);
constexpr Der::Tag kEncryptionInfoTag = Der::ContextTag(1, true);

void CheckSequence(const Der::Element& element) {
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
}

[[noreturn]] void FailEmpty() {
  Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
}

// An element under an IMPLICIT context tag read as the SEQUENCE it stands for.
Der::Element AsSequence(const Der::Element& element) {
  Der::Element sequence = element;
  sequence.tag = Der::Tags::Sequence;
  return sequence;
}

// A SEQUENCE written by `value.write()`, put under an IMPLICIT context tag instead.
template <typename T>
void WriteImplicit(Der::Writer& writer, const Der::Tag& tag, const T& value) {
  Der::Writer inner;
  value.write(inner);
  writer.tlv(tag, Der::ReadSingle(inner.bytes()).content);
}

CReducedHashtree ReadReducedHashtree(const Der::Element& element) {
  CReducedHashtree tree;
  Der::Reader lists = element.children();
  while (!lists.empty()) {
    Der::Reader values = lists.expect(Der::Tags::Sequence).children();
    CPartialHashtree list;
    while (!values.empty()) {
      list.emplace_back(Der::ReadOctetString(values.next()));
    }
    tree.push_back(std::move(list));
  }
  if (tree.empty()) {
    FailEmpty();
  }
  return tree;
}

void WriteReducedHashtree(Der::Writer& writer, const CReducedHashtree& tree) {
  writer.constructed(kReducedHashtreeTag, [&](Der::Writer& lists) {
    for (const CPartialHashtree& list : tree) {
      lists.sequence([&](Der::Writer& values) {
        for (const CBlob& value : list) {
          values.octetString(value.span());
        }
      });
    }
  });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ArchiveTimeStamp

void CArchiveTimeStamp::put_digestAlgorithm(const ASN1::CAlgorithmIdentifierEx* algorithm) {
  if (algorithm != nullptr) {
    m_digestAlgorithm = *algorithm;
  } else {
    m_digestAlgorithm.reset();
  }
  m_received.clear();
}

void CArchiveTimeStamp::put_reducedHashtree(CReducedHashtree tree) {
  m_reducedHashtree = std::move(tree);
  m_received.clear();
}

void CArchiveTimeStamp::put_timeStamp(const TSP::CToken& token) {
  m_timeStamp = token;
  m_received.clear();
}

void CArchiveTimeStamp::read(const Der::Element& element) {
  CheckSequence(element);
  Der::Reader fields = element.children();
  CArchiveTimeStamp read;
  if (const auto algorithm = fields.optional(kDigestAlgorithmTag)) {
    read.m_digestAlgorithm.emplace();
    read.m_digestAlgorithm->read(AsSequence(*algorithm));
  }
  if (const auto attributes = fields.optional(kAttributesTag)) {
    read.m_attributes.emplace();
    read.m_attributes->read(*attributes, false);
  }
  if (const auto tree = fields.optional(kReducedHashtreeTag)) {
    read.m_reducedHashtree = ReadReducedHashtree(*tree);
  }
  read.m_timeStamp.read(fields.expect(Der::Tags::Sequence));
  fields.finish();
  read.m_received = ASN1::ToBlob(element.encoded);
  *this = std::move(read);
}

void CArchiveTimeStamp::write(Der::Writer& writer) const {
  if (!m_received.empty()) {
    writer.raw(m_received.span());
    return;
  }
  if (m_timeStamp.encode().empty()) {
    ASN1::ThrowInvalidState();
  }
  writer.sequence([&](Der::Writer& fields) {
    if (m_digestAlgorithm) {
      WriteImplicit(fields, kDigestAlgorithmTag, *m_digestAlgorithm);
    }
    if (m_attributes) {
      m_attributes->write(fields, kAttributesTag);
    }
    if (!m_reducedHashtree.empty()) {
      WriteReducedHashtree(fields, m_reducedHashtree);
    }
    m_timeStamp.write(fields);
  });
}

CBlob CArchiveTimeStamp::encode() const {
  return ASN1::EncodeWhole(*this);
}

void CArchiveTimeStamp::decode(const CBlob& der) {
  ASN1::DecodeWhole(*this, der);
}

// ---------------------------------------------------------------------------------------------
// ArchiveTimeStampChain, ArchiveTimeStampSequence

template <typename T>
void CNonEmptySequenceOf<T>::read(const Der::Element& element) {
  CheckSequence(element);
  std::vector<T> items;
  Der::Reader members = element.children();
  while (!members.empty()) {
    items.emplace_back().read(members.next());
  }
  if (items.empty()) {
    FailEmpty();
  }
  m_items = std::move(items);
  m_received = ASN1::ToBlob(element.encoded);
}

template <typename T>
void CNonEmptySequenceOf<T>::write(Der::Writer& writer) const {
  if (!m_received.empty()) {
    writer.raw(m_received.span());
    return;
  }
  if (m_items.empty()) {
    ASN1::ThrowInvalidState();
  }
  writer.sequence([&](Der::Writer& members) {
    for (const T& item : m_items) {
      item.write(members);
    }
  });
}

template <typename T>
CBlob CNonEmptySequenceOf<T>::encode() const {
  return ASN1::EncodeWhole(*this);
}

template <typename T>
void CNonEmptySequenceOf<T>::decode(const CBlob& der) {
  ASN1::DecodeWhole(*this, der);
}

template class CNonEmptySequenceOf<CArchiveTimeStamp>;
template class CNonEmptySequenceOf<CArchiveTimeStampChain>;

// ---------------------------------------------------------------------------------------------
// EvidenceRecord

void CEvidenceRecord::addDigestAlgorithm(const ASN1::CAlgorithmIdentifierEx& algorithm) {
  const bool known =
      std::any_of(m_digestAlgorithms.begin(), m_digestAlgorithms.end(),
                  [&](const ASN1::CAlgorithmIdentifierEx& have) { return have == algorithm; });
  if (!known) {
    m_digestAlgorithms.push_back(algorithm);
    m_received.clear();
  }
}

void CEvidenceRecord::read(const Der::Element& element) {
  CheckSequence(element);
  Der::Reader fields = element.children();
  CEvidenceRecord read;
  if (Der::ReadSmallUnsigned(fields.expect(Der::Tags::Integer), 0xFFFFFFFFu) != 1) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  Der::Reader algorithms = fields.expect(Der::Tags::Sequence).children();
  while (!algorithms.empty()) {
    read.m_digestAlgorithms.emplace_back().read(algorithms.next());
  }
  if (read.m_digestAlgorithms.empty()) {
    FailEmpty();
  }
  if (const auto infos = fields.optional(kCryptoInfosTag)) {
    ASN1::CAttributes check;
    check.read(*infos, false);
    read.m_cryptoInfos = ASN1::ToBlob(infos->encoded);
  }
  if (const auto info = fields.optional(kEncryptionInfoTag)) {
    Der::Reader parts = info->children();
    (void)Der::ReadOid(parts.expect(Der::Tags::Oid));
    (void)parts.next();
    parts.finish();
    read.m_encryptionInfo = ASN1::ToBlob(info->encoded);
  }
  read.m_sequence.read(fields.expect(Der::Tags::Sequence));
  fields.finish();
  read.m_received = ASN1::ToBlob(element.encoded);
  *this = std::move(read);
}

void CEvidenceRecord::write(Der::Writer& writer) const {
  if (!m_received.empty()) {
    writer.raw(m_received.span());
    return;
  }
  if (m_digestAlgorithms.empty()) {
    ASN1::ThrowInvalidState();
  }
  writer.sequence([&](Der::Writer& fields) {
    fields.integer(std::uint64_t{1});
    fields.sequence([&](Der::Writer& algorithms) {
      for (const auto& algorithm : m_digestAlgorithms) {
        algorithm.write(algorithms);
      }
    });
    if (!m_cryptoInfos.empty()) {
      fields.raw(m_cryptoInfos.span());
    }
    if (!m_encryptionInfo.empty()) {
      fields.raw(m_encryptionInfo.span());
    }
    m_sequence.write(fields);
  });
}

CBlob CEvidenceRecord::encode() const {
  return ASN1::EncodeWhole(*this);
}

void CEvidenceRecord::decode(const CBlob& der) {
  ASN1::DecodeWhole(*this, der);
}

}  // namespace Velmora::PKI::ERS
