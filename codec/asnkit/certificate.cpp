#include "codec/asnkit/certificate.h"

#include "codec/corekit/datetime_der.h"
#include "platform/errors/winerror.h"

namespace Velmora::ASN1 {

namespace {

constexpr std::uint64_t kMaxVersion = 2;  // v3
constexpr const char* kSubjectKeyIdentifier = "2.5.29.14";

// Name ::= SEQUENCE OF RelativeDistinguishedName, each a non-empty SET OF
// SEQUENCE { type OBJECT IDENTIFIER, value ANY }. The values are not judged.
void CheckName(const Der::Element& name) {
  if (!(name.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader rdns = name.children();
  while (!rdns.empty()) {
    Der::Reader atvs = rdns.expect(Der::Tags::Set).children();
    if (atvs.empty()) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
    }
    while (!atvs.empty()) {
      Der::Reader parts = atvs.expect(Der::Tags::Sequence).children();
      (void)Der::ReadOid(parts.expect(Der::Tags::Oid));
      (void)parts.next();
      parts.finish();
    }
  }
}

CDateTime ReadTime(Der::Reader& fields) {
  const Der::Element e = fields.next();
  if (e.tag == Der::Tags::UtcTime) {
    return FromDerTime(Der::ReadUtcTime(e));
  }
  if (e.tag == Der::Tags::GeneralizedTime) {
    return FromDerTime(Der::ReadGeneralizedTime(e));
  }
  Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
}

}  // namespace

CCertificate::Slice CCertificate::sliceOf(Der::Bytes part) const noexcept {
  return Slice{static_cast<std::size_t>(part.data() - m_encoded.pbData()), part.size()};
}

Der::Bytes CCertificate::slice(const Slice& s) const noexcept {
  if (s.size == 0) {
    return {};
  }
  return Der::Bytes(m_encoded.pbData() + s.offset, s.size);
}

CCertificate::BitString CCertificate::bits(const BitSlice& s) const noexcept {
  return BitString{slice(s.bytes), s.unusedBits};
}

// A primitive BIT STRING under `tag` (its own or an implicit one): the unused-bits octet, at
// most 7 and 0 for an empty string, then the bits.
CCertificate::BitSlice CCertificate::bitSliceOf(const Der::Element& e, const Der::Tag& tag) const {
  if (!(e.tag == tag)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  if (e.content.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_EOD);
  }
  BitSlice result;
  result.unusedBits = e.content[0];
  if (result.unusedBits > 7 || (e.content.size() == 1 && result.unusedBits != 0)) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  result.bytes = sliceOf(e.content.subspan(1));
  result.present = true;
  return result;
}

void CCertificate::read(const Der::Element& certificate) {
  if (!(certificate.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader outer = certificate.children();
  const Der::Element tbs = outer.expect(Der::Tags::Sequence);
  m_tbs = sliceOf(tbs.encoded);
  m_signatureAlgorithm.read(outer.expect(Der::Tags::Sequence));
  m_signatureValue = bitSliceOf(outer.next(), Der::Tags::BitString);
  outer.finish();

  Der::Reader fields = tbs.children();
  m_version = 0;
  if (const auto version = fields.optional(Der::ContextTag(0, true))) {
    Der::Reader inner = version->children();
    m_version = static_cast<std::uint32_t>(
        Der::ReadSmallUnsigned(inner.expect(Der::Tags::Integer), kMaxVersion));
    inner.finish();
  }
  m_serial = sliceOf(Der::ReadIntegerBytes(fields.expect(Der::Tags::Integer)));
  m_signature.read(fields.expect(Der::Tags::Sequence));

  const Der::Element issuer = fields.expect(Der::Tags::Sequence);
  CheckName(issuer);
  m_issuer = sliceOf(issuer.encoded);

  Der::Reader validity = fields.expect(Der::Tags::Sequence).children();
  m_notBefore = ReadTime(validity);
  m_notAfter = ReadTime(validity);
  validity.finish();

  const Der::Element subject = fields.expect(Der::Tags::Sequence);
  CheckName(subject);
  m_subject = sliceOf(subject.encoded);

  const Der::Element spki = fields.expect(Der::Tags::Sequence);
  m_spki = sliceOf(spki.encoded);
  Der::Reader key = spki.children();
  m_keyAlgorithm.read(key.expect(Der::Tags::Sequence));
  m_publicKey = bitSliceOf(key.next(), Der::Tags::BitString);
  key.finish();

  m_issuerUid = {};
  m_subjectUid = {};
  if (const auto uid = fields.optional(Der::ContextTag(1, false))) {
    m_issuerUid = bitSliceOf(*uid, Der::ContextTag(1, false));
  }
  if (const auto uid = fields.optional(Der::ContextTag(2, false))) {
    m_subjectUid = bitSliceOf(*uid, Der::ContextTag(2, false));
  }
  m_hasExtensions = false;
  if (const auto extensions = fields.optional(Der::ContextTag(3, true))) {
    Der::Reader inner = extensions->children();
    m_extensions.read(inner.expect(Der::Tags::Sequence));
    inner.finish();
    m_hasExtensions = true;
  }
  fields.finish();
}

void CCertificate::decode(const CBlob& der) {
  CCertificate certificate;
  certificate.m_encoded = der;
  certificate.read(Der::ReadSingle(certificate.m_encoded.span()));
  *this = std::move(certificate);
}

Der::Bytes CCertificate::get_subjectKeyIdentifier() const {
  if (!m_hasExtensions) {
    return {};
  }
  const CExtension* extension = m_extensions.find(kSubjectKeyIdentifier);
  if (extension == nullptr) {
    return {};
  }
  // SubjectKeyIdentifier ::= KeyIdentifier ::= OCTET STRING
  const Der::Element value = Der::ReadSingle(extension->get_extnValue().span());
  if (!(value.tag == Der::Tags::OctetString)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  return value.content;
}

}  // namespace Velmora::ASN1
