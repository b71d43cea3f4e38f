#include "codec/stampmsg/tsp_fields.h"

#include "platform/errors/winerror.h"

namespace Velmora::PKI::TSP::Fields {

namespace Der = ASN1::Der;

CBlob Copy(Der::Bytes bytes) {
  return CBlob(std::span<const unsigned char>(bytes.data(), bytes.size()));
}

void ReadMessageImprint(const Der::Element& element, ASN1::CAlgorithmIdentifierEx& algorithm,
                        CBlob& hashedMessage) {
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader fields = element.children();
  ASN1::CAlgorithmIdentifierEx readAlgorithm;
  readAlgorithm.read(fields.expect(Der::Tags::Sequence));
  CBlob readHash(Der::ReadOctetString(fields.next()));
  fields.finish();
  algorithm = std::move(readAlgorithm);
  hashedMessage = std::move(readHash);
}

void WriteMessageImprint(Der::Writer& writer, const ASN1::CAlgorithmIdentifierEx& algorithm,
                         const CBlob& hashedMessage) {
  writer.sequence([&](Der::Writer& imprint) {
    algorithm.write(imprint);
    imprint.octetString(hashedMessage.span());
  });
}

void ReadImplicitExtensions(const Der::Element& element, ASN1::CExtensions& extensions) {
  // The IMPLICIT tag stands in place of the SEQUENCE tag; the content is the same.
  Der::Element asSequence = element;
  asSequence.tag = Der::Tags::Sequence;
  extensions.read(asSequence);
}

void WriteImplicitExtensions(Der::Writer& writer, std::uint32_t tagNumber,
                             const ASN1::CExtensions& extensions) {
  Der::Writer inner;
  extensions.write(inner);
  // Re-read what the writer made and put its content under the context tag.
  const Der::Element sequence = Der::ReadSingle(inner.bytes());
  writer.tlv(Der::ContextTag(tagNumber, true), sequence.content);
}

bool ReadDefaultFalse(Der::Reader& fields) {
  if (const auto flag = fields.optional(Der::Tags::Boolean)) {
    return Der::ReadBoolean(*flag);
  }
  return false;
}

std::uint32_t ReadVersion1(Der::Reader& fields) {
  const auto version = Der::ReadSmallUnsigned(fields.expect(Der::Tags::Integer), 0xFFFFFFFFu);
  if (version != 1) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  return static_cast<std::uint32_t>(version);
}

}  // namespace Velmora::PKI::TSP::Fields
