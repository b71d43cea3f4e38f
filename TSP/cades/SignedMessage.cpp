// CSignedMessage: a CMS signature read once, its signers stamped, the tokens added.
#include <utility>

#include "TSP/cades/signed_message_parts.h"
#include "codec/cms/signature_time_stamps.h"
#include "horodex/SignatureStamp.h"
#include "platform/errors/guard.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

namespace {

CBlob TokenOf(const CStamp& stamp) {
  unsigned long size = 0;
  stamp.Export(nullptr, &size);
  CBlob token(size);
  stamp.Export(token.pbData(), &size);
  return token;
}

}  // namespace

struct CSignedMessage::Impl {
  MessageBytes bytes;
  ASN1::CSignedData decoded;
  std::vector<const ASN1::CSignerInfo*> signers;  // into `decoded`

  void load(MessageBytes read) {
    ASN1::CSignedData message;
    message.decode(read.contentInfo);
    if (message.get_signerInfos().empty()) {
      Support::ThrowHResult(Platform::CRYPT_E_NO_SIGNER);
    }
    decoded = std::move(message);
    signers = SignersOf(decoded);
    bytes = std::move(read);
  }
  // The message with `token` as one more signature time stamp of signer `index`.
  void addToken(std::size_t index, const CBlob& token) {
    CBlobList values;
    values.push_back(token);
    const ASN1::CAttribute attribute(ASN1::AttributeOids::SignatureTimeStampToken, values);
    load({ASN1::AddUnsignedAttribute(bytes.contentInfo.span(), index, attribute), bytes.pemLabel});
  }
  const ASN1::CSignerInfo& signer(std::size_t index) const {
    if (index >= signers.size()) {
      Support::ThrowHResult(Platform::CRYPT_E_INVALID_INDEX);
    }
    return *signers[index];
  }
};

CSignedMessage::CSignedMessage(const unsigned char* data, std::size_t length)
    : m_impl(std::make_unique<Impl>()) {
  m_impl->load(ReadMessageBytes(data, length));
}

CSignedMessage::CSignedMessage(CSignedMessage&&) noexcept = default;
CSignedMessage& CSignedMessage::operator=(CSignedMessage&&) noexcept = default;
CSignedMessage::~CSignedMessage() = default;

std::size_t CSignedMessage::get_SignerCount() const {
  return m_impl->signers.size();
}

std::size_t CSignedMessage::FindSigner(Platform::PCCERT_CONTEXT certificate) const {
  if (certificate == nullptr) {
    Support::ThrowHResult(Platform::E_POINTER);
  }
  for (std::size_t i = 0; i < m_impl->signers.size(); ++i) {
    if (SignerIdNames(*m_impl->signers[i], certificate)) {
      return i;
    }
  }
  Support::ThrowHResult(Platform::CRYPT_E_SIGNER_NOT_FOUND);
}

std::string CSignedMessage::get_SignerName(std::size_t index) const {
  const ASN1::CSignerInfo& signer = m_impl->signer(index);
  const CertStoreHandle certificates = CertificatesOf(m_impl->decoded);
  const CertContextPtr certificate = FindSignerCertificate(signer, certificates.get());
  return SignerName(signer, certificate.get());
}

std::vector<CBlob> CSignedMessage::get_TimeStamps(std::size_t index) const {
  return ASN1::SignatureTimeStamps(m_impl->signer(index));
}

const char* CSignedMessage::get_ContentType() const {
  return m_impl->decoded.get_eContentType();
}

bool CSignedMessage::get_IsDetached() const {
  return m_impl->decoded.get_eContent() == nullptr;
}

void CSignedMessage::PutSignatureHash(std::size_t index, CRequest& request) const {
  const CBlob& signature = ASN1::StampableSignature(m_impl->signer(index));
  request.ResetData();
  request.AddData(signature.pbData(), signature.cbData());
}

void CSignedMessage::AddTimeStamp(std::size_t index, const unsigned char* data,
                                  unsigned long length) {
  const CBlob& signature = ASN1::StampableSignature(m_impl->signer(index));
  CStamp stamp;
  stamp.Import(data, length, nullptr);
  unsigned long size = 0;
  stamp.get_DataHash(nullptr, &size);
  CBlob imprint(size);
  stamp.get_DataHash(imprint.pbData(), &size);
  if (HashOf(stamp.get_DataHashAlg(), signature) != imprint) {
    Support::ThrowHResult(Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH);
  }
  m_impl->addToken(index, TokenOf(stamp));
}

CStamp& CSignedMessage::Stamp(std::size_t index, CRequest& request) {
  PutSignatureHash(index, request);
  // Send checked the token's imprint against the request's hash: the signature value's.
  CStamp& stamp = request.Send(true);
  m_impl->addToken(index, TokenOf(stamp));
  return stamp;
}

CBlob CSignedMessage::Export() const {
  if (m_impl->bytes.pemLabel.empty()) {
    return m_impl->bytes.contentInfo;
  }
  return PemOf(m_impl->bytes.contentInfo, m_impl->bytes.pemLabel);
}

}  // namespace Velmora::PKI::TSP::Client
