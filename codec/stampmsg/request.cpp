#include "codec/stampmsg/request.h"

#include "codec/stampmsg/tsp_fields.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::TSP {

namespace Der = ASN1::Der;

CRequest::CRequest(const ASN1::CAlgorithmIdentifierEx& hashAlgorithm, const CBlob& hashedMessage,
                   bool certReq)
    : m_hashAlgorithm(hashAlgorithm), m_hashedMessage(hashedMessage), m_certReq(certReq) {}

void CRequest::put_nonce(const ASN1::CBigInteger* nonce) {
  if (nonce == nullptr || nonce->empty()) {
    m_nonce.reset();
  } else {
    ASN1::CBigInteger shortest;
    shortest.decode(nonce->encode());
    m_nonce = std::move(shortest);
  }
  m_received.clear();
}

void CRequest::put_reqPolicy(const char* oid) {
  if (oid == nullptr) {
    m_reqPolicy.reset();
  } else {
    Der::EncodeOidContent(oid);  // throws CRYPT_E_OID_FORMAT for text that is not an OID
    m_reqPolicy = oid;
  }
  m_received.clear();
}

CBlob CRequest::encode() const {
  if (!m_received.empty()) {
    return m_received;
  }
  Der::Writer writer;
  writer.sequence([&](Der::Writer& request) {
    request.integer(std::uint64_t{m_version});
    Fields::WriteMessageImprint(request, m_hashAlgorithm, m_hashedMessage);
    if (m_reqPolicy) {
      request.oid(*m_reqPolicy);
    }
    if (m_nonce) {
      m_nonce->write(request);
    }
    if (m_certReq) {
      request.boolean(true);
    }
    if (m_extensions) {
      Fields::WriteImplicitExtensions(request, 0, *m_extensions);
    }
  });
  return CBlob(writer.take());
}

void CRequest::decode(const CBlob& encoded) {
  const Der::Element element = Der::ReadSingle(encoded.span());
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  CRequest request;
  Der::Reader fields = element.children();
  request.m_version = Fields::ReadVersion1(fields);
  Fields::ReadMessageImprint(fields.expect(Der::Tags::Sequence), request.m_hashAlgorithm,
                             request.m_hashedMessage);
  if (const auto policy = fields.optional(Der::Tags::Oid)) {
    request.m_reqPolicy = Der::ReadOid(*policy);
  }
  if (const auto nonce = fields.optional(Der::Tags::Integer)) {
    request.m_nonce.emplace();
    request.m_nonce->read(*nonce);
  }
  request.m_certReq = Fields::ReadDefaultFalse(fields);
  if (const auto extensions = fields.optional(Der::ContextTag(0, true))) {
    request.m_extensions.emplace();
    Fields::ReadImplicitExtensions(*extensions, *request.m_extensions);
  }
  fields.finish();
  request.m_received = Fields::Copy(element.encoded);
  *this = std::move(request);
}

}  // namespace Velmora::PKI::TSP
