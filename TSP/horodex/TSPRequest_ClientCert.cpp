// CRequest::put_ClientCertificate: the certificate for TLS client authentication, bound to its
// private key through the user's "My" store when the caller's context lacks the link.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "TSP/horodex/TSPRequest_Impl.h"
#include "platform/base/free_with.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;

namespace {

// Properties the platform works out from the certificate itself or keeps per store: never copied
// to a clone.
constexpr std::array<DWORD, 25> kNotCloned = {3,  4,  7,  8,  15, 17, 18, 20, 24, 25, 27,  66, 67,
                                              68, 69, 72, 73, 74, 75, 77, 84, 85, 86, 107, 124};

void CloseStore(Platform::HCERTSTORE store) noexcept {
  Platform::CertCloseStore(store, 0);
}
using StorePtr = std::unique_ptr<void, Platform::FreeWith<CloseStore>>;

// Whether the context carries key provider information. The first read uses 512 bytes and grows
// to the size the platform asks for.
bool HasKeyProvInfo(Platform::PCCERT_CONTEXT context) {
  std::vector<unsigned char> buffer(512);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (Platform::CertGetCertificateContextProperty(context, Platform::CERT_KEY_PROV_INFO_PROP_ID,
                                                  buffer.data(), &size)) {
    return true;
  }
  if (Platform::GetLastError() != Platform::ERROR_MORE_DATA) {
    return false;
  }
  buffer.resize(size);
  return Platform::CertGetCertificateContextProperty(context, Platform::CERT_KEY_PROV_INFO_PROP_ID,
                                                     buffer.data(), &size) != 0;
}

// Copies one property of `from` to `to`; false when reading or setting it fails.
bool CopyProperty(Platform::PCCERT_CONTEXT from, Platform::PCCERT_CONTEXT to, DWORD id) {
  DWORD size = 0;
  if (!Platform::CertGetCertificateContextProperty(from, id, nullptr, &size)) {
    return false;
  }
  // Pointer-aligned storage: the key provider information is laid out as a structure.
  std::vector<std::uintptr_t> storage(size / sizeof(std::uintptr_t) + 1);
  auto* data = reinterpret_cast<unsigned char*>(storage.data());
  if (!Platform::CertGetCertificateContextProperty(from, id, data, &size)) {
    return false;
  }
  if (id == Platform::CERT_KEY_PROV_INFO_PROP_ID) {
    return Platform::CertSetCertificateContextProperty(to, id, 0, data) != 0;
  }
  const Platform::CRYPT_DATA_BLOB blob{size, data};
  return Platform::CertSetCertificateContextProperty(to, id, 0, &blob) != 0;
}

}  // namespace

Platform::HRESULT CloneCertificateWithProperties(Platform::PCCERT_CONTEXT* certificate) {
  if (certificate == nullptr || *certificate == nullptr) {
    return Platform::E_FAIL;
  }
  const Platform::PCCERT_CONTEXT found = *certificate;
  CertContextPtr clone(Platform::CertCreateCertificateContext(
      Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING, found->pbCertEncoded,
      found->cbCertEncoded));
  if (!clone) {
    return Support::HResultFromLastError();
  }
  for (DWORD id = Platform::CertEnumCertificateContextProperties(found, 0); id != 0;
       id = Platform::CertEnumCertificateContextProperties(found, id)) {
    if (std::find(kNotCloned.begin(), kNotCloned.end(), id) != kNotCloned.end()) {
      continue;
    }
    if (!CopyProperty(found, clone.get(), id)) {
      const Platform::HRESULT failure = Support::HResultFromLastError();
      return failure != 0 ? failure : Platform::E_FAIL;
    }
  }
  Platform::CertFreeCertificateContext(found);
  *certificate = clone.release();
  return 0;
}

void CRequest::put_ClientCertificate(Platform::PCCERT_CONTEXT certificate) {
  Impl& r = *m_impl;
  CertContextPtr chosen(Platform::CertDuplicateCertificateContext(certificate));
  if (chosen && !HasKeyProvInfo(chosen.get())) {
    const StorePtr my(Platform::CertOpenStore(
        Platform::CERT_STORE_PROV_SYSTEM_W, 0, 0,
        Platform::CERT_STORE_READONLY_FLAG | Platform::CERT_SYSTEM_STORE_CURRENT_USER, L"My"));
    if (my) {
      Platform::PCCERT_CONTEXT twin = Platform::CertFindCertificateInStore(
          my.get(), Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING, 0,
          Platform::CERT_FIND_EXISTING, chosen.get(), nullptr);
      // Only a copy bound to its key is worth taking; an unbound one would change nothing for the
      // exchange, so the caller's certificate is used as given.
      if (twin != nullptr && HasKeyProvInfo(twin)) {
        // A failed clone keeps the store's own context, which carries the key link all the same.
        CloneCertificateWithProperties(&twin);
        chosen.reset(twin);
      } else {
        Platform::CertFreeCertificateContext(twin);
      }
    }
  }
  r.clientCert = std::move(chosen);
  r.http.clientCert = r.clientCert.get();
}

}  // namespace Velmora::PKI::TSP::Client
