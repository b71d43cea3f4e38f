// Installable chain policies and the library's time-stamping policy.
#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt_chain.h"

namespace Velmora::Platform {

BOOL CertVerifyCertificateChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT, const CERT_CHAIN_POLICY_PARA*,
                                      CERT_CHAIN_POLICY_STATUS*) {
  return Capi::Fail(E_NOTIMPL, FALSE);
}

BOOL CryptInstallOIDFunctionAddress(HMODULE, DWORD, LPCSTR, DWORD, const CRYPT_OID_FUNC_ENTRY[],
                                    DWORD) {
  return Capi::Fail(E_NOTIMPL, FALSE);
}

BOOL VelmoraTimeStampChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT, const CERT_CHAIN_POLICY_PARA*,
                                 CERT_CHAIN_POLICY_STATUS*) {
  return Capi::Fail(E_NOTIMPL, FALSE);
}

}  // namespace Velmora::Platform
