#include "codec/cms/signer_info.h"

#include "platform/errors/winerror.h"

namespace Velmora::ASN1 {

namespace {

CBlob Copy(Der::Bytes bytes) {
  return CBlob(std::span<const unsigned char>(bytes.data(), bytes.size()));
}

constexpr std::uint64_t kMaxCmsVersion = 5;

}  // namespace

const CBlob* CSignerInfo::get_issuer() const noexcept {
  return m_sidKind == SignerIdKind::IssuerAndSerialNumber ? &m_issuer : nullptr;
}

const CBigInteger* CSignerInfo::get_serialNumber() const noexcept {
  return m_sidKind == SignerIdKind::IssuerAndSerialNumber ? &m_serialNumber : nullptr;
}

const CBlob* CSignerInfo::get_subjectKeyIdentifier() const noexcept {
  return m_sidKind == SignerIdKind::SubjectKeyIdentifier ? &m_subjectKeyIdentifier : nullptr;
}

const CAttributes* CSignerInfo::get_signedAttributes() const noexcept {
  return m_hasSignedAttrs ? &m_signedAttrs : nullptr;
}

const CAttributes* CSignerInfo::get_unsignedAttributes() const noexcept {
  return m_hasUnsignedAttrs ? &m_unsignedAttrs : nullptr;
}

CBlob CSignerInfo::get_signedAttributesToBeSigned() const {
  CBlob toBeSigned = m_signedAttrsEncoded;
  if (!toBeSigned.empty()) {
    toBeSigned.pbData()[0] = 0x31;
  }
  return toBeSigned;
}

void CSignerInfo::read(const Der::Element& element) {
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  CSignerInfo s;
  Der::Reader fields = element.children();
  s.m_version = static_cast<std::uint32_t>(
      Der::ReadSmallUnsigned(fields.expect(Der::Tags::Integer), kMaxCmsVersion));

  const auto sidTag = fields.peekTag();
  if (sidTag && *sidTag == Der::Tags::Sequence) {
    const Der::Element sid = fields.next();
    Der::Reader parts = sid.children();
    s.m_issuer = Copy(parts.expect(Der::Tags::Sequence).encoded);
    s.m_serialNumber.read(parts.expect(Der::Tags::Integer));
    parts.finish();
    s.m_sidKind = SignerIdKind::IssuerAndSerialNumber;
    s.m_sidEncoded = Copy(sid.encoded);
  } else {
    const Der::Element sid = fields.expect(Der::ContextTag(0, false));
    s.m_subjectKeyIdentifier = Copy(sid.content);
    s.m_sidKind = SignerIdKind::SubjectKeyIdentifier;
    s.m_sidEncoded = Copy(sid.encoded);
  }

  s.m_digestAlgorithm.read(fields.expect(Der::Tags::Sequence));

  if (const auto received = fields.optional(Der::ContextTag(0, true))) {
    // The signature covers the signed attributes' DER: they are read under the DER rule, as
    // received, and never re-encoded.
    const Der::Element signedAttrs = Der::InProfile(*received, Der::Profile::Der);
    s.m_signedAttrs.read(signedAttrs, false);
    s.m_signedAttrsEncoded = Copy(signedAttrs.encoded);
    s.m_hasSignedAttrs = true;
  }

  s.m_signatureAlgorithm.read(fields.expect(Der::Tags::Sequence));
  const Der::Element signature = fields.next();
  s.m_signature = CBlob(Der::ReadOctetString(signature));

  if (const auto unsignedAttrs = fields.optional(Der::ContextTag(1, true))) {
    // An empty [1] set is not allowed by CMS, but TSAs send it and it means "none".
    s.m_unsignedAttrs.read(*unsignedAttrs, true);
    s.m_hasUnsignedAttrs = true;
  }
  fields.finish();

  s.m_encoded = Copy(element.encoded);
  *this = std::move(s);
}

void CSignerInfo::decode(const CBlob& encoded) {
  read(Der::ReadSingle(encoded.span()));
}

void CSignerInfo::write(Der::Writer& writer) const {
  if (m_encoded.empty()) {
    Der::Fail(
        Platform::MakeHResult(0x80070000u | Platform::ERROR_INVALID_STATE));  // nothing decoded
  }
  writer.raw(m_encoded.span());
}

}  // namespace Velmora::ASN1
