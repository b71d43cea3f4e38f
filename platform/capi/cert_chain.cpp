// The chain engine: CertGetCertificateChain and the trusted roots of the default engine.
#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt_chain.h"

namespace Velmora::Platform {

BOOL CertGetCertificateChain(HCERTCHAINENGINE, PCCERT_CONTEXT, const FILETIME*, HCERTSTORE,
                             const CERT_CHAIN_PARA*, DWORD, void*,
                             PCCERT_CHAIN_CONTEXT* ppChainContext) {
  if (ppChainContext != nullptr) {
    *ppChainContext = nullptr;
  }
  return Capi::Fail(E_NOTIMPL, FALSE);
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT) {}

PCCERT_CHAIN_CONTEXT CertDuplicateCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  return pChainContext;
}

HRESULT CertAddTrustedRootsFromFile(const char*) {
  return E_NOTIMPL;
}

}  // namespace Velmora::Platform
