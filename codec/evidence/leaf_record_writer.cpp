#include "codec/evidence/leaf_record_writer.h"

#include "codec/asnkit/codec_util.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::ERS {

namespace Der = ASN1::Der;

namespace {
constexpr Der::Tag kDigestAlgorithmTag = Der::ContextTag(0, true);
constexpr Der::Tag kReducedHashtreeTag = Der::ContextTag(2, true);
constexpr std::uint8_t kVersion1[] = {0x02, 0x01, 0x01};
}  // namespace

CLeafRecordWriter::CLeafRecordWriter(const ASN1::CAlgorithmIdentifierEx& algorithm,
                                     const TSP::CToken& token) {
  if (token.encode().empty()) {
    ASN1::ThrowInvalidState();
  }
  Der::Writer writer;
  algorithm.write(writer);
  m_algorithm = writer.take();
  m_algorithmContent = Der::ReadSingle(m_algorithm).content;
  m_token = token.encode().span();
}

void CLeafRecordWriter::write(const CHashPath& path, Der::Writer& out) const {
  // Sizes from the inside out.
  std::size_t treeContent = 0;
  std::size_t next = 0;
  for (const std::size_t count : path.counts) {
    std::size_t listContent = 0;
    for (std::size_t i = 0; i < count; ++i) {
      listContent += Der::EncodedLength(Der::Tags::OctetString, path.values.at(next + i).size());
    }
    next += count;
    treeContent += Der::EncodedLength(Der::Tags::Sequence, listContent);
  }
  const bool hasTree = !path.counts.empty();
  const std::size_t stampContent =
      Der::EncodedLength(kDigestAlgorithmTag, m_algorithmContent.size()) +
      (hasTree ? Der::EncodedLength(kReducedHashtreeTag, treeContent) : 0) + m_token.size();
  const std::size_t stamp = Der::EncodedLength(Der::Tags::Sequence, stampContent);
  const std::size_t chain = Der::EncodedLength(Der::Tags::Sequence, stamp);
  const std::size_t sequence = Der::EncodedLength(Der::Tags::Sequence, chain);
  const std::size_t recordContent =
      sizeof kVersion1 + Der::EncodedLength(Der::Tags::Sequence, m_algorithm.size()) + sequence;
  const std::size_t total = Der::EncodedLength(Der::Tags::Sequence, recordContent);

  out.clear();
  out.reserve(total);
  out.header(Der::Tags::Sequence, recordContent);
  out.raw(kVersion1);
  out.header(Der::Tags::Sequence, m_algorithm.size());
  out.raw(m_algorithm);
  out.header(Der::Tags::Sequence, chain);
  out.header(Der::Tags::Sequence, stamp);
  out.header(Der::Tags::Sequence, stampContent);
  out.tlv(kDigestAlgorithmTag, m_algorithmContent);
  if (hasTree) {
    out.header(kReducedHashtreeTag, treeContent);
    next = 0;
    for (const std::size_t count : path.counts) {
      std::size_t listContent = 0;
      for (std::size_t i = 0; i < count; ++i) {
        listContent += Der::EncodedLength(Der::Tags::OctetString, path.values[next + i].size());
      }
      out.header(Der::Tags::Sequence, listContent);
      for (std::size_t i = 0; i < count; ++i) {
        out.octetString(path.values[next + i]);
      }
      next += count;
    }
  }
  out.raw(m_token);
  if (out.bytes().size() != total) {
    ASN1::ThrowInvalidState();  // a size above was reckoned wrong: never hand out such a record
  }
}

}  // namespace Velmora::PKI::ERS
