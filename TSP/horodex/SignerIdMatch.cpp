// Whether a CMS signer identifier names a certificate.
#include "TSP/horodex/SignerIdMatch.h"

#include <cstring>
#include <vector>

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;

namespace {

constexpr DWORD kEncoding = Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING;

}  // namespace

bool SignerIdNames(const ASN1::CSignerInfo& signer, Platform::PCCERT_CONTEXT certificate) {
  const Platform::CERT_INFO& info = *certificate->pCertInfo;
  const CBlob* issuer = signer.get_issuer();
  const ASN1::CBigInteger* serial = signer.get_serialNumber();
  if (issuer != nullptr && serial != nullptr) {
    // Issuer and serial number compared as the platform compares two certificates; a Name that
    // does not decode matches no certificate's issuer.
    std::vector<Platform::BYTE> littleEndian(serial->span().rbegin(), serial->span().rend());
    std::vector<Platform::BYTE> name = issuer->bytes();
    Platform::CERT_INFO named{};
    named.Issuer = {static_cast<DWORD>(name.size()), name.data()};
    named.SerialNumber = {static_cast<DWORD>(littleEndian.size()), littleEndian.data()};
    return Platform::CertCompareCertificate(kEncoding, &named, &info) != 0;
  }
  if (const CBlob* keyId = signer.get_subjectKeyIdentifier()) {
    // The certificate's subjectKeyIdentifier, or the SHA-1 of its key when it declares none.
    DWORD size = 0;
    if (!Platform::CertGetCertificateContextProperty(
            certificate, Platform::CERT_KEY_IDENTIFIER_PROP_ID, nullptr, &size) ||
        size != keyId->cbData()) {
      return false;
    }
    std::vector<Platform::BYTE> own(size);
    return Platform::CertGetCertificateContextProperty(
               certificate, Platform::CERT_KEY_IDENTIFIER_PROP_ID, own.data(), &size) &&
           size == keyId->cbData() && std::memcmp(own.data(), keyId->pbData(), size) == 0;
  }
  return false;
}

}  // namespace Velmora::PKI::TSP::Client
