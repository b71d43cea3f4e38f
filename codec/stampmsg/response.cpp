#include "codec/stampmsg/response.h"

#include "codec/stampmsg/tsp_fields.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::TSP {

namespace Der = ASN1::Der;

void CResponse::decode(const CBlob& encoded) {
  decode(encoded.span());
}

void CResponse::decode(std::span<const unsigned char> encoded) {
  const Der::Element element = Der::ReadSingle(encoded);
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  CResponse response;
  Der::Reader fields = element.children();
  response.m_status.read(fields.expect(Der::Tags::Sequence));
  if (!fields.empty()) {
    response.m_token.read(fields.expect(Der::Tags::Sequence));
    response.m_hasToken = true;
  }
  fields.finish();
  response.m_encoded = Fields::Copy(element.encoded);
  *this = std::move(response);
}

}  // namespace Velmora::PKI::TSP
