#include "codec/stampmsg/token.h"

#include "codec/cms/signature_check.h"
#include "codec/corekit/datetime_der.h"
#include "codec/stampmsg/tsp_fields.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::TSP {

namespace Der = ASN1::Der;

namespace {

constexpr Platform::HRESULT kInvalidState =
    Platform::MakeHResult(0x80070000u | Platform::ERROR_INVALID_STATE);

}  // namespace

void CToken::readTstInfo(const CBlob& tstInfo) {
  // The TSTInfo is DER (its hash is what the signer signed): read under the DER rule.
  const Der::Element element = Der::ReadSingle(tstInfo.span(), Der::Profile::Der);
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader fields = element.children();
  m_version = Fields::ReadVersion1(fields);
  m_policy = Der::ReadOid(fields.expect(Der::Tags::Oid));
  Fields::ReadMessageImprint(fields.expect(Der::Tags::Sequence), m_hashAlgorithm, m_hashedMessage);
  m_serialNumber.read(fields.expect(Der::Tags::Integer));
  m_genTime = FromDerTime(Der::ReadGeneralizedTime(fields.expect(Der::Tags::GeneralizedTime)));
  if (const auto accuracy = fields.optional(Der::Tags::Sequence)) {
    m_accuracy.read(*accuracy);
    m_hasAccuracy = true;
  }
  m_ordering = Fields::ReadDefaultFalse(fields);
  if (const auto nonce = fields.optional(Der::Tags::Integer)) {
    m_nonce.read(*nonce);
    m_hasNonce = true;
  }
  if (const auto tsa = fields.optional(Der::ContextTag(0, true))) {
    Der::Reader name = tsa->children();
    m_tsa.read(name.next());
    name.finish();
    m_hasTsa = true;
  }
  if (const auto extensions = fields.optional(Der::ContextTag(1, true))) {
    Fields::ReadImplicitExtensions(*extensions, m_extensions);
    m_hasExtensions = true;
  }
  fields.finish();
}

void CToken::read(const Der::Element& element) {
  CToken token;
  token.m_signedData.read(element);
  const ASN1::CSignedData& signedData = token.m_signedData;
  if (std::string_view(signedData.get_eContentType()) != ASN1::CmsOids::TstInfo) {
    Der::Fail(Platform::CRYPT_E_INVALID_MSG_TYPE);
  }
  if (signedData.get_eContent() == nullptr) {
    Der::Fail(Platform::CRYPT_E_MSG_ERROR);
  }
  if (signedData.get_signerInfos().empty()) {
    Der::Fail(Platform::CRYPT_E_NO_SIGNER);
  }
  if (signedData.get_signerInfos().size() != 1) {
    Der::Fail(Platform::CRYPT_E_MSG_ERROR);
  }
  token.readTstInfo(*signedData.get_eContent());
  *this = std::move(token);
}

void CToken::decode(const CBlob& encoded) {
  read(Der::ReadSingle(encoded.span()));
}

void CToken::write(Der::Writer& writer) const {
  if (encode().empty()) {
    Platform::AtlThrow(kInvalidState);
  }
  writer.raw(encode().span());
}

const ASN1::CSignerInfo& CToken::get_signerInfo() const {
  if (m_signedData.get_signerInfos().empty()) {
    Platform::AtlThrow(kInvalidState);
  }
  return m_signedData.get_signerInfos().front();
}

const CBlob& CToken::get_tstInfo() const {
  const CBlob* tstInfo = m_signedData.get_eContent();
  if (tstInfo == nullptr) {
    Platform::AtlThrow(kInvalidState);
  }
  return *tstInfo;
}

bool CToken::verify(const CBlob& certificateDer) const noexcept {
  return checkSignature(certificateDer) == ASN1::SignatureCheck::Valid;
}

ASN1::SignatureCheck CToken::checkSignature(const CBlob& certificateDer) const noexcept {
  return encode().empty() ? ASN1::SignatureCheck::Invalid
                          : m_signedData.checkSigner(0, certificateDer);
}

}  // namespace Velmora::PKI::TSP
