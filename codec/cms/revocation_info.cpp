#include "codec/cms/revocation_info.h"

#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::ASN1 {

namespace {

std::vector<std::uint8_t> Copy(Der::Bytes bytes) {
  return {bytes.begin(), bytes.end()};
}

// OCSPResponse ::= SEQUENCE { responseStatus ENUMERATED { successful (0) ... },
//     responseBytes [0] EXPLICIT SEQUENCE { responseType OID, response OCTET STRING } }
std::vector<std::uint8_t> SuccessfulResponseOf(Der::Bytes basic) {
  Der::Writer out;
  out.sequence([&](Der::Writer& response) {
    const std::uint8_t successful = 0;
    response.tlv(Der::Tags::Enumerated, Der::Bytes(&successful, 1));
    response.constructed(Der::ContextTag(0, true), [&](Der::Writer& bytes) {
      bytes.sequence([&](Der::Writer& body) {
        body.oid(RevocationOids::OcspBasic);
        body.octetString(basic);
      });
    });
  });
  return out.take();
}

}  // namespace

CRevocationInfo ReadRevocationInfo(const CBlob& choice) {
  const Der::Element element = Der::ReadSingle(choice.span());
  CRevocationInfo info;
  if (element.tag == Der::Tags::Sequence) {
    info.kind = CRevocationInfo::Kind::Crl;
    info.der = Copy(element.encoded);
    return info;
  }
  if (!(element.tag == Der::ContextTag(1, true))) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader fields = element.children();
  info.format = Der::ReadOid(fields.expect(Der::Tags::Oid));
  const Der::Element value = fields.next();
  fields.finish();
  if (info.format == RevocationOids::OcspResponse || info.format == RevocationOids::OcspBasic) {
    if (!(value.tag == Der::Tags::Sequence)) {
      Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
    }
    info.kind = CRevocationInfo::Kind::OcspResponse;
    info.der = info.format == RevocationOids::OcspResponse ? Copy(value.encoded)
                                                           : SuccessfulResponseOf(value.encoded);
  }
  return info;
}

std::vector<CRevocationInfo> ReadRevocationInfos(const CBlobList* choices) {
  std::vector<CRevocationInfo> infos;
  if (choices == nullptr) {
    return infos;
  }
  for (const CBlob& choice : *choices) {
    try {
      infos.push_back(ReadRevocationInfo(choice));
    } catch (const Platform::CAtlException&) {
      // A choice we cannot read speaks for nothing; the others still count.
    }
  }
  return infos;
}

}  // namespace Velmora::ASN1
