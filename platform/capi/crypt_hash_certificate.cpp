// CryptHashCertificate and CryptHashCertificate2 over OpenSSL's digests.
#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt_chain.h"

namespace Velmora::Platform {

BOOL CryptHashCertificate(HCRYPTPROV_LEGACY, ALG_ID, DWORD, const BYTE*, DWORD, BYTE*, DWORD*) {
  return Capi::Fail(E_NOTIMPL, FALSE);
}

BOOL CryptHashCertificate2(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*) {
  return Capi::Fail(E_NOTIMPL, FALSE);
}

}  // namespace Velmora::Platform
