// CMS decode messages over our codec's SignedData, and CryptDecodeObject for a SignerInfo (and a
// multi-byte integer) laid out the way the messages lay out their signer parameters.
#include <atomic>
#include <memory>
#include <string_view>
#include <vector>

#include "codec/cms/signed_data.h"
#include "codec/der/der_writer.h"
#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_encode.h"

namespace Velmora::Platform {

using Capi::Arena;
using Capi::Fail;
using Capi::Guard;

namespace {

// The RDN type under which the platform names a signer identified by its key alone.
constexpr const char* kKeyIdRdn = "1.3.6.1.4.1.311.10.7.1";

struct MessageImpl {
  explicit MessageImpl(DWORD type) noexcept : msgType(type) {}

  std::atomic<long> refs{1};
  const DWORD msgType;  // 0: from the data; CMSG_SIGNED: a bare SignedData
  std::vector<BYTE> received;
  bool finished = false;  // the final part came
  bool decoded = false;
  std::shared_ptr<const ASN1::CSignedData> signedData;  // once decoded
};

MessageImpl* MessageOf(HCRYPTMSG handle) noexcept {
  return static_cast<MessageImpl*>(handle);
}

// ContentInfo ::= SEQUENCE { contentType id-signedData, content [0] EXPLICIT SignedData }, for a
// message opened as CMSG_SIGNED whose data is the SignedData alone.
std::vector<BYTE> WrapSignedData(const std::vector<BYTE>& signedData) {
  ASN1::Der::Writer writer;
  writer.sequence([&](ASN1::Der::Writer& info) {
    info.oid(ASN1::CmsOids::SignedData);
    info.constructed(ASN1::Der::ContextTag(0, true),
                     [&](ASN1::Der::Writer& content) { content.raw(signedData); });
  });
  return writer.take();
}

// Name ::= SEQUENCE { SET { SEQUENCE { keyIdRdn, OCTET STRING keyIdentifier } } }: the issuer the
// platform reports for a signer named by subjectKeyIdentifier.
std::vector<BYTE> KeyIdName(std::span<const BYTE> keyId) {
  ASN1::Der::Writer writer;
  writer.sequence([&](ASN1::Der::Writer& rdns) {
    rdns.constructed(ASN1::Der::Tags::Set, [&](ASN1::Der::Writer& rdn) {
      rdn.sequence([&](ASN1::Der::Writer& atv) {
        atv.oid(kKeyIdRdn);
        atv.octetString(keyId);
      });
    });
  });
  return writer.take();
}

// Lays the list out and returns its header (null while measuring).
CRYPT_ATTRIBUTES* LayOutAttributes(Arena& arena, const ASN1::CAttributes& attributes) {
  auto* list = arena.take<CRYPT_ATTRIBUTES>(1);
  CRYPT_ATTRIBUTE* items =
      attributes.empty() ? nullptr : arena.take<CRYPT_ATTRIBUTE>(attributes.size());
  std::size_t i = 0;
  for (const ASN1::CAttribute& attribute : attributes) {
    const CBlobList& values = attribute.get_values();
    CRYPT_ATTR_BLOB* blobs = values.empty() ? nullptr : arena.take<CRYPT_ATTR_BLOB>(values.size());
    char* oid = arena.copyText(attribute.get_attrType());
    std::size_t j = 0;
    for (const CBlob& value : values) {
      BYTE* bytes = arena.copy(value.span());
      if (arena.writing()) {
        blobs[j] = CRYPT_ATTR_BLOB{static_cast<DWORD>(value.cbData()), bytes};
      }
      ++j;
    }
    if (arena.writing()) {
      items[i] = CRYPT_ATTRIBUTE{oid, static_cast<DWORD>(values.size()), blobs};
    }
    ++i;
  }
  if (arena.writing()) {
    *list = CRYPT_ATTRIBUTES{static_cast<DWORD>(attributes.size()), items};
  }
  return list;
}

// The signer's issuer Name and serial number as the platform reports them; a signer named by
// key identifier gets the key-id Name and no serial number.
struct SignerName {
  std::vector<BYTE> issuer;
  std::vector<BYTE> serialLittleEndian;
};

SignerName SignerNameOf(const ASN1::CSignerInfo& signer) {
  SignerName name;
  if (const CBlob* keyId = signer.get_subjectKeyIdentifier()) {
    name.issuer = KeyIdName(keyId->span());
    return name;
  }
  if (const CBlob* issuer = signer.get_issuer()) {
    name.issuer = issuer->bytes();
  }
  if (const ASN1::CBigInteger* serial = signer.get_serialNumber()) {
    name.serialLittleEndian.resize(serial->cbData());
    Capi::ReverseInto(serial->span(), name.serialLittleEndian.data());
  }
  return name;
}

BOOL GetSignerParam(const ASN1::CSignerInfo& signer, DWORD param, void* pvData, DWORD* pcbData) {
  switch (param) {
    case CMSG_SIGNER_AUTH_ATTR_PARAM:
    case CMSG_SIGNER_UNAUTH_ATTR_PARAM: {
      const ASN1::CAttributes* attributes = param == CMSG_SIGNER_AUTH_ATTR_PARAM
                                                ? signer.get_signedAttributes()
                                                : signer.get_unsignedAttributes();
      if (attributes == nullptr) {
        return Fail(CRYPT_E_ATTRIBUTES_MISSING, FALSE);
      }
      return Capi::LayOut(pvData, pcbData,
                          [&](Arena& arena) { LayOutAttributes(arena, *attributes); });
    }
    case CMSG_ENCODED_SIGNER:
      return Capi::CopyOut(signer.encode().span(), pvData, pcbData);
    case CMSG_SIGNER_CERT_INFO_PARAM: {
      const SignerName name = SignerNameOf(signer);
      return Capi::LayOut(pvData, pcbData, [&](Arena& arena) {
        auto* info = arena.take<CERT_INFO>(1);
        BYTE* issuer = arena.copy(name.issuer);
        BYTE* serial = arena.copy(name.serialLittleEndian);
        if (arena.writing()) {
          *info = CERT_INFO{};
          info->Issuer = CERT_NAME_BLOB{static_cast<DWORD>(name.issuer.size()), issuer};
          info->SerialNumber =
              CRYPT_INTEGER_BLOB{static_cast<DWORD>(name.serialLittleEndian.size()), serial};
        }
      });
    }
    case CMSG_SIGNER_CERT_ID_PARAM: {
      const CBlob* keyId = signer.get_subjectKeyIdentifier();
      const SignerName name = keyId == nullptr ? SignerNameOf(signer) : SignerName{};
      return Capi::LayOut(pvData, pcbData, [&](Arena& arena) {
        auto* id = arena.take<CERT_ID>(1);
        if (keyId != nullptr) {
          BYTE* bytes = arena.copy(keyId->span());
          if (arena.writing()) {
            *id = CERT_ID{};
            id->dwIdChoice = CERT_ID_KEY_IDENTIFIER;
            id->KeyId = CRYPT_HASH_BLOB{static_cast<DWORD>(keyId->cbData()), bytes};
          }
          return;
        }
        BYTE* issuer = arena.copy(name.issuer);
        BYTE* serial = arena.copy(name.serialLittleEndian);
        if (arena.writing()) {
          *id = CERT_ID{};
          id->dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
          id->IssuerSerialNumber.Issuer =
              CERT_NAME_BLOB{static_cast<DWORD>(name.issuer.size()), issuer};
          id->IssuerSerialNumber.SerialNumber =
              CRYPT_INTEGER_BLOB{static_cast<DWORD>(name.serialLittleEndian.size()), serial};
        }
      });
    }
    default:
      return Fail(CRYPT_E_INVALID_MSG_TYPE, FALSE);
  }
}

// An algorithm identifier's OID text and parameters, copied into the arena.
void LayOutAlgorithm(Arena& arena, const ASN1::CAlgorithmIdentifier& algorithm,
                     CRYPT_ALGORITHM_IDENTIFIER* out) {
  char* oid = arena.copyText(algorithm.get_algorithm());
  BYTE* parameters = arena.copy(algorithm.get_parameters().span());
  if (arena.writing()) {
    out->pszObjId = oid;
    out->Parameters =
        CRYPT_OBJID_BLOB{static_cast<DWORD>(algorithm.get_parameters().cbData()), parameters};
  }
}

// CMSG_CMS_SIGNER_INFO with everything it points to after it.
void LayOutSignerInfo(Arena& arena, const ASN1::CSignerInfo& signer) {
  auto* info = arena.take<CMSG_CMS_SIGNER_INFO>(1);
  if (arena.writing()) {
    *info = CMSG_CMS_SIGNER_INFO{};
    info->dwVersion = signer.get_version();
  }
  if (const CBlob* keyId = signer.get_subjectKeyIdentifier()) {
    BYTE* bytes = arena.copy(keyId->span());
    if (arena.writing()) {
      info->SignerId.dwIdChoice = CERT_ID_KEY_IDENTIFIER;
      info->SignerId.KeyId = CRYPT_HASH_BLOB{static_cast<DWORD>(keyId->cbData()), bytes};
    }
  } else {
    const SignerName name = SignerNameOf(signer);
    BYTE* issuer = arena.copy(name.issuer);
    BYTE* serial = arena.copy(name.serialLittleEndian);
    if (arena.writing()) {
      info->SignerId.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
      info->SignerId.IssuerSerialNumber.Issuer =
          CERT_NAME_BLOB{static_cast<DWORD>(name.issuer.size()), issuer};
      info->SignerId.IssuerSerialNumber.SerialNumber =
          CRYPT_INTEGER_BLOB{static_cast<DWORD>(name.serialLittleEndian.size()), serial};
    }
  }
  LayOutAlgorithm(arena, signer.get_digestAlgorithm(),
                  arena.writing() ? &info->HashAlgorithm : nullptr);
  LayOutAlgorithm(arena, signer.get_signatureAlgorithm(),
                  arena.writing() ? &info->HashEncryptionAlgorithm : nullptr);
  BYTE* signature = arena.copy(signer.get_signature().span());
  if (arena.writing()) {
    info->EncryptedHash =
        CRYPT_DATA_BLOB{static_cast<DWORD>(signer.get_signature().cbData()), signature};
  }
  // Absent attribute sets are empty lists.
  for (const bool authenticated : {true, false}) {
    const ASN1::CAttributes* attributes =
        authenticated ? signer.get_signedAttributes() : signer.get_unsignedAttributes();
    if (attributes == nullptr) {
      continue;
    }
    const CRYPT_ATTRIBUTES* list = LayOutAttributes(arena, *attributes);
    if (arena.writing()) {
      (authenticated ? info->AuthAttrs : info->UnauthAttrs) = *list;
    }
  }
}

bool IsSignerParam(DWORD param) noexcept {
  return param == CMSG_SIGNER_AUTH_ATTR_PARAM || param == CMSG_SIGNER_UNAUTH_ATTR_PARAM ||
         param == CMSG_ENCODED_SIGNER || param == CMSG_SIGNER_CERT_INFO_PARAM ||
         param == CMSG_SIGNER_CERT_ID_PARAM;
}

}  // namespace

HCRYPTMSG CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD, DWORD dwMsgType, HCRYPTPROV_LEGACY,
                               void* pRecipientInfo, void* pStreamInfo) {
  if ((dwMsgEncodingType & CMSG_ENCODING_TYPE_MASK) != PKCS_7_ASN_ENCODING) {
    return Fail<HCRYPTMSG>(E_INVALIDARG, nullptr);
  }
  if (pRecipientInfo != nullptr || pStreamInfo != nullptr) {
    return Fail<HCRYPTMSG>(E_NOTIMPL, nullptr);
  }
  if (dwMsgType != 0 && dwMsgType != CMSG_SIGNED) {
    return Fail<HCRYPTMSG>(CRYPT_E_INVALID_MSG_TYPE, nullptr);
  }
  return Guard<HCRYPTMSG>(nullptr, [&]() -> HCRYPTMSG { return new MessageImpl(dwMsgType); });
}

HCRYPTMSG CryptMsgOpenDecoded(std::shared_ptr<const ASN1::CSignedData> signedData) {
  if (!signedData) {
    return Fail<HCRYPTMSG>(E_INVALIDARG, nullptr);
  }
  return Guard<HCRYPTMSG>(nullptr, [&]() -> HCRYPTMSG {
    auto* message = new MessageImpl(0);
    message->finished = true;
    message->decoded = true;
    message->signedData = std::move(signedData);
    return message;
  });
}

BOOL CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal) {
  if (hCryptMsg == nullptr || (pbData == nullptr && cbData != 0)) {
    return Fail(E_INVALIDARG, FALSE);
  }
  MessageImpl& message = *MessageOf(hCryptMsg);
  if (message.finished) {
    return Fail(CRYPT_E_MSG_ERROR, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    if (cbData != 0) {
      message.received.insert(message.received.end(), pbData, pbData + cbData);
    }
    if (!fFinal) {
      return TRUE;
    }
    message.finished = true;
    std::vector<BYTE> contentInfo = std::move(message.received);
    message.received = {};
    if (message.msgType == CMSG_SIGNED) {
      contentInfo = WrapSignedData(contentInfo);
    }
    auto signedData = std::make_shared<ASN1::CSignedData>();
    signedData->decode(CBlob(std::move(contentInfo)));
    message.signedData = std::move(signedData);
    message.decoded = true;
    return TRUE;
  });
}

BOOL CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                      DWORD* pcbData) {
  if (hCryptMsg == nullptr || pcbData == nullptr) {
    return Fail(E_INVALIDARG, FALSE);
  }
  const MessageImpl& message = *MessageOf(hCryptMsg);
  if (!message.decoded) {
    return Fail(CRYPT_E_STREAM_MSG_NOT_READY, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    const ASN1::CSignedData& signedData = *message.signedData;
    if (IsSignerParam(dwParamType)) {
      const auto& signers = signedData.get_signerInfos();
      if (dwIndex >= signers.size()) {
        return Fail(CRYPT_E_INVALID_INDEX, FALSE);
      }
      auto signer = signers.begin();
      std::advance(signer, dwIndex);
      return GetSignerParam(*signer, dwParamType, pvData, pcbData);
    }
    switch (dwParamType) {
      case CMSG_TYPE_PARAM:
        return Capi::CopyOutDword(CMSG_SIGNED, pvData, pcbData);
      case CMSG_CONTENT_PARAM: {
        const CBlob* content = signedData.get_eContent();
        return Capi::CopyOut(content != nullptr ? content->span() : std::span<const BYTE>(), pvData,
                             pcbData);
      }
      case CMSG_INNER_CONTENT_TYPE_PARAM: {
        const std::string_view type = signedData.get_eContentType();
        return Capi::CopyOut(
            std::span<const BYTE>(reinterpret_cast<const BYTE*>(type.data()), type.size() + 1),
            pvData, pcbData);
      }
      case CMSG_SIGNER_COUNT_PARAM:
        return Capi::CopyOutDword(static_cast<DWORD>(signedData.get_signerInfos().size()), pvData,
                                  pcbData);
      case CMSG_CERT_COUNT_PARAM: {
        const CBlobList* certificates = signedData.get_certificates();
        return Capi::CopyOutDword(
            certificates != nullptr ? static_cast<DWORD>(certificates->size()) : 0, pvData,
            pcbData);
      }
      case CMSG_CERT_PARAM: {
        const CBlobList* certificates = signedData.get_certificates();
        if (certificates == nullptr || dwIndex >= certificates->size()) {
          return Fail(CRYPT_E_INVALID_INDEX, FALSE);
        }
        auto certificate = certificates->begin();
        std::advance(certificate, dwIndex);
        return Capi::CopyOut(certificate->span(), pvData, pcbData);
      }
      default:
        return Fail(CRYPT_E_INVALID_MSG_TYPE, FALSE);
    }
  });
}

BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD, void* pvStructInfo, DWORD* pcbStructInfo) {
  if ((dwCertEncodingType & (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0 ||
      pcbStructInfo == nullptr || (pbEncoded == nullptr && cbEncoded != 0)) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    if (lpszStructType == CMS_SIGNER_INFO) {
      ASN1::CSignerInfo signer;
      signer.decode(CBlob(pbEncoded, cbEncoded));
      return Capi::LayOut(pvStructInfo, pcbStructInfo,
                          [&](Arena& arena) { LayOutSignerInfo(arena, signer); });
    }
    if (lpszStructType == X509_MULTI_BYTE_INTEGER) {
      const ASN1::Der::Element element =
          ASN1::Der::ReadSingle(ASN1::Der::Bytes(pbEncoded, cbEncoded));
      const ASN1::Der::Bytes bigEndian = ASN1::Der::ReadIntegerBytes(element);
      return Capi::LayOut(pvStructInfo, pcbStructInfo, [&](Arena& arena) {
        auto* blob = arena.take<CRYPT_INTEGER_BLOB>(1);
        BYTE* bytes = arena.take<BYTE>(bigEndian.size());
        if (arena.writing()) {
          Capi::ReverseInto(bigEndian, bytes);
          *blob = CRYPT_INTEGER_BLOB{static_cast<DWORD>(bigEndian.size()), bytes};
        }
      });
    }
    return Capi::FailWin32(ERROR_FILE_NOT_FOUND, FALSE);
  });
}

HCRYPTMSG CryptMsgDuplicate(HCRYPTMSG hCryptMsg) {
  if (hCryptMsg != nullptr) {
    MessageOf(hCryptMsg)->refs.fetch_add(1, std::memory_order_relaxed);
  }
  return hCryptMsg;
}

BOOL CryptMsgClose(HCRYPTMSG hCryptMsg) {
  if (hCryptMsg != nullptr) {
    MessageImpl* message = MessageOf(hCryptMsg);
    if (message->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete message;
    }
  }
  return TRUE;
}

}  // namespace Velmora::Platform
