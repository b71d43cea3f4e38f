// The library's one exception type: it carries a single HRESULT, is thrown by value and caught by
// reference. Everything below the exported classes reports failure with it.
#pragma once

#include "platform/base/types.h"

namespace Velmora::Platform {

class CAtlException {
 public:
  constexpr explicit CAtlException(HRESULT hr = MakeHResult(0x80004005)) noexcept : m_hr(hr) {}
  constexpr operator HRESULT() const noexcept { return m_hr; }  // NOLINT: mirrors the platform
  constexpr HRESULT hr() const noexcept { return m_hr; }

  HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr) {
  throw CAtlException(hr);
}

}  // namespace Velmora::Platform
