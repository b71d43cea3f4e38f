// An X.509 certificate: our reader, the certificate context built on it, its computed properties,
// the OpenSSL certificate made on demand, and a store copy that must be found again.
#include "codec/asnkit/certificate.h"
#include "fuzz/fuzz_harness.h"
#include "platform/capi/cert_openssl.h"
#include "platform/capi/wincrypt.h"

namespace P = Velmora::Platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    Velmora::ASN1::CCertificate certificate;
    certificate.decode(Velmora::CBlob(data, static_cast<unsigned long>(size)));
    (void)certificate.get_subjectKeyIdentifier();
  });
  P::PCCERT_CONTEXT context =
      P::CertCreateCertificateContext(P::X509_ASN_ENCODING, data, static_cast<P::DWORD>(size));
  if (context == nullptr) {
    return 0;
  }
  (void)P::CertContextGetX509(context);
  P::DWORD hashSize = 0;
  P::CertGetCertificateContextProperty(context, P::CERT_KEY_IDENTIFIER_PROP_ID, nullptr, &hashSize);
  P::HCERTSTORE store = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  P::CertAddCertificateContextToStore(store, context, P::CERT_STORE_ADD_ALWAYS, nullptr);
  P::PCCERT_CONTEXT found =
      P::CertFindCertificateInStore(store, 0, 0, P::CERT_FIND_EXISTING, context, nullptr);
  if (found == nullptr) {
    __builtin_trap();
  }
  P::CertFreeCertificateContext(found);
  P::CertCloseStore(store, 0);
  P::CertFreeCertificateContext(context);
  return 0;
}
