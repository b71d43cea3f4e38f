// The signer's certificate identifier of a time-stamp token, read from its signed attributes.
#include "horodex/GetCertID.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TSP/horodex/CapiHandles.h"
#include "codec/asnkit/ess.h"
#include "codec/asnkit/general_name.h"
#include "codec/asnkit/signed_attributes.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_encode.h"
#include "support/errors.h"
#include "support/oid_info.h"
#include "support/trace.h"

namespace Velmora::PKI {

using Platform::DWORD;
using Support::ThrowLastError;

namespace {

constexpr DWORD kEncoding = Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING;

CBlob ValueOf(const Platform::CRYPT_ATTRIBUTE& attribute) {
  const Platform::CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
  return CBlob(value.pbData, value.cbData);
}

// The algorithm-and-value form of a hash, with the issuerSerial given (or none).
ASN1::COtherCertID MakeId(const CBlob& hash, const ASN1::CAlgorithmIdentifier& algorithm,
                          const ASN1::CIssuerSerial* issuerSerial) {
  ASN1::COtherCertID id(hash, algorithm);
  id.put_issuerSerial(issuerSerial);
  return id;
}

// The platform's code for a failed step; E_FAIL when it recorded none.
[[noreturn]] void ThrowPlatformFailure() {
  ThrowLastError();
}

}  // namespace

const Platform::CRYPT_ATTRIBUTE* FindAttribute(const Platform::CRYPT_ATTRIBUTES& attributes,
                                               const char* oid) {
  const Platform::CRYPT_ATTRIBUTE* found = nullptr;
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const Platform::CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (attribute.pszObjId == nullptr || std::strcmp(attribute.pszObjId, oid) != 0) {
      continue;
    }
    if (found != nullptr) {
      Support::ThrowWin32Error(Platform::ERROR_BAD_FORMAT);
    }
    found = &attribute;
  }
  if (found != nullptr && found->cValue != 1) {
    Support::ThrowWin32Error(Platform::ERROR_BAD_FORMAT);
  }
  return found;
}

std::optional<ASN1::COtherCertID> ReadSigningCertificate(
    const Platform::CRYPT_ATTRIBUTES& attributes) {
  const Platform::CRYPT_ATTRIBUTE* attribute =
      FindAttribute(attributes, ASN1::kOidSigningCertificate);
  if (attribute == nullptr) {
    return std::nullopt;
  }
  const ASN1::CAttrSigningCertificate value(ValueOf(*attribute));
  const ASN1::CESSCertID& first = value.get_certs().front();
  return MakeId(first.get_certHash(), ASN1::CAlgorithmIdentifier(ASN1::kOidSha1),
                first.get_issuerSerial());
}

std::optional<ASN1::COtherCertID> ReadOtherSigningCertificate(
    const Platform::CRYPT_ATTRIBUTES& attributes) {
  const Platform::CRYPT_ATTRIBUTE* attribute =
      FindAttribute(attributes, ASN1::kOidOtherSigningCertificate);
  if (attribute == nullptr) {
    return std::nullopt;
  }
  const ASN1::CAttrOtherSigningCertificate value(ValueOf(*attribute));
  return value.get_certs().front();
}

std::optional<ASN1::COtherCertID> ReadSigningCertificateV2(
    const Platform::CRYPT_ATTRIBUTES& attributes) {
  const Platform::CRYPT_ATTRIBUTE* attribute =
      FindAttribute(attributes, ASN1::kOidSigningCertificateV2);
  if (attribute == nullptr) {
    return std::nullopt;
  }
  const ASN1::CAttrSigningCertificateV2 value(ValueOf(*attribute));
  const ASN1::CESSCertIDv2& first = value.get_certs().front();
  return MakeId(first.get_certHash(), first.get_hashAlgorithm(), first.get_issuerSerial());
}

CBlob HashCertificate(const CBlob& certificate, const char* oid) {
  if (certificate.cbData() > 0xFFFFFFFFu) {
    Support::ThrowHResult(Platform::CRYPT_E_ASN1_LARGE);
  }
  const auto size = static_cast<DWORD>(certificate.cbData());
  // Every platform here is "version 6 or later": the entry that names the CNG algorithm is
  // preferred.
  const Platform::CRYPT_OID_INFO* info = Support::FindOIDInfo(
      Platform::CRYPT_OID_INFO_OID_KEY | Platform::CRYPT_OID_PREFER_CNG_ALGID_FLAG, oid,
      Platform::CRYPT_HASH_ALG_OID_GROUP_ID);
  if (info == nullptr) {
    ThrowPlatformFailure();
  }

  constexpr std::size_t kCngMember =
      offsetof(Platform::CRYPT_OID_INFO, pwszCNGAlgid) + sizeof(info->pwszCNGAlgid);
  if (info->cbSize >= kCngMember && info->pwszCNGAlgid != nullptr &&
      info->pwszCNGAlgid[0] != L'\0') {
    DWORD length = 0;
    if (Platform::CryptHashCertificate2(info->pwszCNGAlgid, 0, nullptr, certificate.pbData(), size,
                                        nullptr, &length)) {
      CBlob hash(length);
      if (Platform::CryptHashCertificate2(info->pwszCNGAlgid, 0, nullptr, certificate.pbData(),
                                          size, hash.pbData(), &length)) {
        hash.resize_to(length);
        return hash;
      }
    }
  }

  DWORD length = 0;
  if (!Platform::CryptHashCertificate(0, info->Algid, 0, certificate.pbData(), size, nullptr,
                                      &length)) {
    ThrowPlatformFailure();
  }
  CBlob hash(length);
  if (!Platform::CryptHashCertificate(0, info->Algid, 0, certificate.pbData(), size, hash.pbData(),
                                      &length)) {
    ThrowPlatformFailure();
  }
  hash.resize_to(length);
  return hash;
}

ASN1::CIssuerSerial MakeIssuerSerial(const CBlob& certificate) {
  if (certificate.cbData() > 0xFFFFFFFFu) {
    Support::ThrowHResult(Platform::CRYPT_E_ASN1_LARGE);
  }
  Platform::SetLastError(0);
  const TSP::Client::CertContextPtr context(Platform::CertCreateCertificateContext(
      kEncoding, certificate.pbData(), static_cast<DWORD>(certificate.cbData())));
  if (!context) {
    ThrowPlatformFailure();
  }
  const Platform::CERT_INFO& info = *context->pCertInfo;

  ASN1::CGeneralName issuerName;
  issuerName.put_directoryName(CBlob(info.Issuer.pbData, info.Issuer.cbData));
  ASN1::CGeneralNames issuer;
  issuer.push_back(issuerName);

  DWORD length = 0;
  if (!Platform::CryptEncodeObject(kEncoding, Platform::X509_MULTI_BYTE_INTEGER, &info.SerialNumber,
                                   nullptr, &length)) {
    ThrowPlatformFailure();
  }
  CBlob encoded(length);
  if (!Platform::CryptEncodeObject(kEncoding, Platform::X509_MULTI_BYTE_INTEGER, &info.SerialNumber,
                                   encoded.pbData(), &length)) {
    ThrowPlatformFailure();
  }
  encoded.resize_to(length);
  ASN1::CBigInteger serialNumber;
  serialNumber.decode(encoded);

  ASN1::CIssuerSerial issuerSerial;
  issuerSerial.put_issuer(issuer);
  issuerSerial.put_serialNumber(serialNumber);
  return issuerSerial;
}

// Whether the issuerSerial of an identifier names the certificate whose own is `made`: one
// directoryName whose name matches the certificate's issuer (the way chains match names, so a
// re-encoded issuer still names it) and the same serial number.
bool NamesCertificate(const ASN1::CIssuerSerial& given, const ASN1::CIssuerSerial& made) {
  const ASN1::CGeneralNames& names = given.get_issuer();
  if (names.size() != 1 || names.front().get_type() != ASN1::CGeneralName::Type::DirectoryName) {
    return false;
  }
  const CBlob givenName = names.front().get_directoryName();
  const CBlob madeName = made.get_issuer().front().get_directoryName();
  Platform::CERT_NAME_BLOB a{static_cast<DWORD>(givenName.cbData()),
                             const_cast<Platform::BYTE*>(givenName.pbData())};
  Platform::CERT_NAME_BLOB b{static_cast<DWORD>(madeName.cbData()),
                             const_cast<Platform::BYTE*>(madeName.pbData())};
  return Platform::CertCompareCertificateName(kEncoding, &a, &b) &&
         ASN1::CIssuerSerial(made.get_issuer(), given.get_serialNumber()) == made;
}

bool CheckCertId(const ASN1::COtherCertID& id, const CBlob& certificate) {
  const ASN1::COtherHash& given = id.get_otherCertHash();
  const ASN1::CAlgorithmIdentifier algorithm = given.get_otherHash() != nullptr
                                                   ? given.get_otherHash()->get_hashAlgorithm()
                                                   : ASN1::CAlgorithmIdentifier(ASN1::kOidSha1);
  const CBlob hash = HashCertificate(certificate, algorithm.get_algorithm());
  const ASN1::COtherCertID made(ASN1::COtherHash(ASN1::COtherHashAlgAndValue(hash, algorithm)));
  if (!(made == ASN1::COtherCertID(given))) {
    return false;
  }
  const ASN1::CIssuerSerial* issuerSerial = id.get_issuerSerial();
  return issuerSerial == nullptr || NamesCertificate(*issuerSerial, MakeIssuerSerial(certificate));
}

bool CheckSignerCertIdEx(const Platform::CRYPT_ATTRIBUTES& attributes, const CBlob& certificate) {
  const auto v1 = ReadSigningCertificate(attributes);
  const auto other = ReadOtherSigningCertificate(attributes);
  const auto v2 = ReadSigningCertificateV2(attributes);
  if (!v1 && !other && !v2) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, "Velmora::PKI::CheckSignerCertIdEx",
                  "(other)SigningCert attribute not found\n");
    return false;
  }
  for (const auto* id : {&v2, &other, &v1}) {
    if (*id && !CheckCertId(**id, certificate)) {
      return false;
    }
  }
  return true;
}

ASN1::COtherCertID GetSignerCertIdEx(const Platform::CRYPT_ATTRIBUTES& attributes) {
  constexpr const char* kFunction = "Velmora::PKI::GetSignerCertIdEx";
  auto v1 = ReadSigningCertificate(attributes);
  auto other = ReadOtherSigningCertificate(attributes);
  auto v2 = ReadSigningCertificateV2(attributes);
  if (!v1 && !other && !v2) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "(other)SigningCert attribute not found\n");
    Support::ThrowHResult(Platform::CRYPT_E_NOT_FOUND);
  }
  if (v1 && other) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction,
                  "Multiple instances of signingCert attributes are not allowed.\n");
    Support::ThrowWin32Error(Platform::ERROR_BAD_FORMAT);
  }
  if (v2) {
    return std::move(*v2);
  }
  if (other) {
    return std::move(*other);
  }
  return std::move(*v1);
}

}  // namespace Velmora::PKI
