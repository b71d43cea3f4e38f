// CryptDecodeObject for the structures the library decodes, on our own codec.
#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt_encode.h"

namespace Velmora::Platform {

BOOL CryptDecodeObject(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*) {
  return Capi::Fail(E_NOTIMPL, FALSE);
}

}  // namespace Velmora::Platform
