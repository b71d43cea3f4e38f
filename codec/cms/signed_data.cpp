#include "codec/cms/signed_data.h"

#include "codec/cms/signature_check.h"
#include "platform/errors/winerror.h"

namespace Velmora::ASN1 {

namespace {

CBlob Copy(Der::Bytes bytes) {
  return CBlob(std::span<const unsigned char>(bytes.data(), bytes.size()));
}

constexpr std::uint64_t kMaxCmsVersion = 5;

bool IsContextConstructed(const Der::Tag& tag, std::uint32_t highest) {
  return tag.cls == Der::TagClass::Context && tag.constructed && tag.number <= highest;
}

}  // namespace

void CSignedData::read(const Der::Element& contentInfo) {
  if (!(contentInfo.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader info = contentInfo.children();
  if (Der::ReadOid(info.expect(Der::Tags::Oid)) != CmsOids::SignedData) {
    Der::Fail(Platform::CRYPT_E_INVALID_MSG_TYPE);
  }
  Der::Reader explicitContent = info.expect(Der::ContextTag(0, true)).children();
  const Der::Element signedData = explicitContent.expect(Der::Tags::Sequence);
  explicitContent.finish();
  info.finish();

  CSignedData s;
  Der::Reader fields = signedData.children();
  s.m_version = static_cast<std::uint32_t>(
      Der::ReadSmallUnsigned(fields.expect(Der::Tags::Integer), kMaxCmsVersion));

  Der::Reader digestAlgorithms = fields.expect(Der::Tags::Set).children();
  while (!digestAlgorithms.empty()) {
    CAlgorithmIdentifier algorithm;
    algorithm.read(digestAlgorithms.next());
    s.m_digestAlgorithms.push_back(std::move(algorithm));
  }

  Der::Reader encap = fields.expect(Der::Tags::Sequence).children();
  s.m_eContentType = Der::ReadOid(encap.expect(Der::Tags::Oid));
  if (const auto explicitEContent = encap.optional(Der::ContextTag(0, true))) {
    Der::Reader octets = explicitEContent->children();
    s.m_eContent = CBlob(Der::ReadOctetString(octets.next()));
    octets.finish();
    s.m_hasEContent = true;
  }
  encap.finish();

  if (const auto certificates = fields.optional(Der::ContextTag(0, true))) {
    s.m_hasCertificates = true;
    Der::Reader choices = certificates->children();
    while (!choices.empty()) {
      const Der::Element choice = choices.next();
      if (choice.tag == Der::Tags::Sequence) {
        s.m_certificates.push_back(Copy(choice.encoded));
      } else if (IsContextConstructed(choice.tag, 3)) {
        s.m_otherCertificates.push_back(Copy(choice.encoded));
      } else {
        Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
      }
    }
  }

  if (const auto crls = fields.optional(Der::ContextTag(1, true))) {
    s.m_hasCrls = true;
    Der::Reader choices = crls->children();
    while (!choices.empty()) {
      const Der::Element choice = choices.next();
      if (!(choice.tag == Der::Tags::Sequence) && !(choice.tag == Der::ContextTag(1, true))) {
        Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
      }
      s.m_crls.push_back(Copy(choice.encoded));
    }
  }

  Der::Reader signers = fields.expect(Der::Tags::Set).children();
  while (!signers.empty()) {
    CSignerInfo signer;
    signer.read(signers.next());
    s.m_signerInfos.push_back(std::move(signer));
  }
  fields.finish();

  s.m_encoded = Copy(contentInfo.encoded);
  *this = std::move(s);
}

void CSignedData::decode(const CBlob& contentInfo) {
  read(Der::ReadSingle(contentInfo.span()));
}

bool CSignedData::verifySigner(std::size_t index, const CBlob& certificateDer) const noexcept {
  return checkSigner(index, certificateDer) == SignatureCheck::Valid;
}

SignatureCheck CSignedData::checkSigner(std::size_t index,
                                        const CBlob& certificateDer) const noexcept {
  std::size_t i = 0;
  for (const CSignerInfo& signer : m_signerInfos) {
    if (i++ == index) {
      return CheckSignerInfo(signer, m_eContentType, get_eContent(), certificateDer.span());
    }
  }
  return SignatureCheck::Invalid;
}

}  // namespace Velmora::ASN1
