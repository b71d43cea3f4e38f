#include "TSP/cades/signed_message_parts.h"

#include <string_view>

#include "TSP/horodex/Base64.h"
#include "TSP/horodex/SignerIdMatch.h"
#include "codec/asnkit/x500_name.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/text/convert.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;

namespace {

constexpr DWORD kEncoding = Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING;
constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kDashes = "-----";

std::string Hex(const CBlob& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes.bytes()) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace

MessageBytes ReadMessageBytes(const unsigned char* data, std::size_t length) {
  if (data == nullptr && length != 0) {
    Support::ThrowHResult(Platform::E_INVALIDARG);
  }
  const std::string_view text(reinterpret_cast<const char*>(data), length);
  const std::size_t begin = text.find(kBegin);
  // A binary ContentInfo starts with a SEQUENCE tag; only text is searched for armour.
  if (length == 0 || data[0] == 0x30 || begin == std::string_view::npos) {
    return {CBlob(data, static_cast<unsigned long>(length)), {}};
  }
  const std::size_t labelStart = begin + kBegin.size();
  const std::size_t labelEnd = text.find(kDashes, labelStart);
  if (labelEnd == std::string_view::npos) {
    Support::ThrowHResult(Platform::CRYPT_E_ASN1_ERROR);
  }
  MessageBytes message;
  message.pemLabel = std::string(text.substr(labelStart, labelEnd - labelStart));
  const std::string endLine = "-----END " + message.pemLabel + "-----";
  const std::size_t bodyStart = labelEnd + kDashes.size();
  const std::size_t bodyEnd = text.find(endLine, bodyStart);
  if (bodyEnd == std::string_view::npos) {
    Support::ThrowHResult(Platform::CRYPT_E_ASN1_ERROR);
  }
  const std::string_view body = text.substr(bodyStart, bodyEnd - bodyStart);
  std::size_t size = body.size();
  CBlob decoded(static_cast<unsigned long>(size));
  if (!Base64Decode(body.data(), body.size(), decoded.pbData(), &size)) {
    Support::ThrowHResult(Platform::CRYPT_E_ASN1_ERROR);
  }
  message.contentInfo = CBlob(decoded.span().first(size));
  return message;
}

CBlob PemOf(const CBlob& contentInfo, const std::string& label) {
  const CBlob base64 = Base64Encode(contentInfo);
  std::string text = "-----BEGIN " + label + "-----\n";
  std::size_t column = 0;
  for (const unsigned char c : base64.bytes()) {
    if (c == '\r' || c == '\n') {
      continue;
    }
    text += static_cast<char>(c);
    if (++column == 64) {
      text += '\n';
      column = 0;
    }
  }
  if (column != 0) {
    text += '\n';
  }
  text += "-----END " + label + "-----\n";
  return CBlob(std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(text.data()),
                                              text.size()));
}

std::vector<const ASN1::CSignerInfo*> SignersOf(const ASN1::CSignedData& message) {
  std::vector<const ASN1::CSignerInfo*> signers;
  for (const ASN1::CSignerInfo& signer : message.get_signerInfos()) {
    signers.push_back(&signer);
  }
  return signers;
}

CertStoreHandle CertificatesOf(const ASN1::CSignedData& message) {
  CertStoreHandle store;
  if (const Platform::HRESULT hr = store.OpenMemory(); Platform::FAILED(hr)) {
    Support::ThrowHResult(hr);
  }
  if (const CBlobList* certificates = message.get_certificates()) {
    for (const CBlob& der : *certificates) {
      // A certificate that does not decode names no signer; the others still can.
      const CertContextPtr context(Platform::CertCreateCertificateContext(
          kEncoding, der.pbData(), static_cast<DWORD>(der.cbData())));
      if (context) {
        Platform::CertAddCertificateContextToStore(store.get(), context.get(),
                                                   Platform::CERT_STORE_ADD_ALWAYS, nullptr);
      }
    }
  }
  return store;
}

CertContextPtr FindSignerCertificate(const ASN1::CSignerInfo& signer, Platform::HCERTSTORE store) {
  Platform::PCCERT_CONTEXT context = nullptr;
  while ((context = Platform::CertEnumCertificatesInStore(store, context)) != nullptr) {
    if (SignerIdNames(signer, context)) {
      return CertContextPtr(context);  // the enumeration's reference, now the caller's
    }
  }
  return nullptr;
}

std::string SignerName(const ASN1::CSignerInfo& signer, Platform::PCCERT_CONTEXT certificate) {
  if (certificate != nullptr) {
    const Platform::CERT_NAME_BLOB& subject = certificate->pCertInfo->Subject;
    return Platform::WideToUtf8(ASN1::NameToString(CBlob(subject.pbData, subject.cbData)).str());
  }
  if (const CBlob* keyId = signer.get_subjectKeyIdentifier()) {
    return "key identifier " + Hex(*keyId);
  }
  const CBlob* issuer = signer.get_issuer();
  const ASN1::CBigInteger* serial = signer.get_serialNumber();
  if (issuer == nullptr || serial == nullptr) {
    return {};
  }
  return "serial number " + Hex(*serial) + " of " +
         Platform::WideToUtf8(ASN1::NameToString(*issuer).str());
}

CBlob HashOf(Platform::ALG_ID algorithm, const CBlob& data) {
  DWORD size = 0;
  if (!Platform::CryptHashCertificate(0, algorithm, 0, data.pbData(),
                                      static_cast<DWORD>(data.cbData()), nullptr, &size)) {
    Support::ThrowLastError();
  }
  CBlob hash(size);
  if (!Platform::CryptHashCertificate(0, algorithm, 0, data.pbData(),
                                      static_cast<DWORD>(data.cbData()), hash.pbData(), &size)) {
    Support::ThrowLastError();
  }
  return CBlob(hash.span().first(size));
}

}  // namespace Velmora::PKI::TSP::Client
