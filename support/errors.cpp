#include "support/errors.h"

namespace Velmora::Support {

void ThrowHResult(HRESULT hr) {
  throw CAtlException(hr);
}

void ThrowWin32Error(DWORD code) {
  ThrowHResult(code == Platform::ERROR_SUCCESS ? Platform::E_FAIL : HResultFromWin32(code));
}

void ThrowLastError() {
  ThrowWin32Error(Platform::GetLastError());
}

HRESULT HResultFromLastError() noexcept {
  return HResultFromWin32(Platform::GetLastError());
}

}  // namespace Velmora::Support
