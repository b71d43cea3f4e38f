// Helpers shared by the CryptoAPI stand-ins: turning exceptions into the thread's last error,
// and laying variable-size results out in a caller's buffer by the size-query protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <utility>

#include "platform/base/types.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

// Records a failure as the thread's last error and returns `failed` (FALSE or null): an HRESULT
// (CRYPT_E_NOT_FOUND ...) is kept as its 32-bit value, as the platform does.
template <typename R>
R Fail(HRESULT hr, R failed) noexcept {
  SetLastError(static_cast<DWORD>(hr));
  return failed;
}
// The same with a Win32 error number (ERROR_MORE_DATA ...), kept as the number.
template <typename R>
R FailWin32(DWORD code, R failed) noexcept {
  SetLastError(code);
  return failed;
}

// Runs `body` at a CryptoAPI entry point: any exception becomes the last error (the HRESULT of
// GuardBoundary: a CAtlException's own, E_OUTOFMEMORY, or E_UNEXPECTED for anything else) and the
// result `failed`.
template <typename R, typename Body>
R Guard(R failed, Body&& body) noexcept {
  return GuardBoundary(failed, std::forward<Body>(body));
}

// Places structures, arrays and bytes one after another in a buffer, each at the alignment its
// type needs. Run once without a buffer to measure, then once with it to write: the two runs
// make the same requests, so the offsets agree. While measuring every pointer handed out is null
// and nothing is written.
class Arena {
 public:
  explicit Arena(BYTE* base) noexcept : m_base(base) {}

  bool writing() const noexcept { return m_base != nullptr; }
  std::size_t size() const noexcept { return m_used; }

  template <typename T>
  T* take(std::size_t count) noexcept {
    BYTE* p = reserve(sizeof(T) * count, alignof(T));
    return reinterpret_cast<T*>(p);
  }
  // A copy of the bytes, or null for none.
  BYTE* copy(std::span<const BYTE> bytes) noexcept {
    if (bytes.empty()) {
      return nullptr;
    }
    BYTE* p = reserve(bytes.size(), 1);
    if (p != nullptr) {
      std::memcpy(p, bytes.data(), bytes.size());
    }
    return p;
  }
  // A NUL-terminated copy of the text.
  char* copyText(std::string_view text) noexcept {
    BYTE* p = reserve(text.size() + 1, 1);
    if (p != nullptr) {
      std::memcpy(p, text.data(), text.size());
      p[text.size()] = 0;
    }
    return reinterpret_cast<char*>(p);
  }

 private:
  BYTE* reserve(std::size_t bytes, std::size_t alignment) noexcept {
    m_used = (m_used + alignment - 1) / alignment * alignment;
    BYTE* p = m_base != nullptr ? m_base + m_used : nullptr;
    m_used += bytes;
    return p;
  }

  BYTE* m_base;
  std::size_t m_used = 0;
};

// The size-query protocol over a layout: `fill(Arena&)` lays the result out. A null pvData stores
// the size and succeeds; a smaller *pcbData fails with ERROR_MORE_DATA after storing the size; a
// buffer not aligned for pointers fails with E_INVALIDARG.
template <typename Fill>
BOOL LayOut(void* pvData, DWORD* pcbData, Fill&& fill) {
  if (pcbData == nullptr) {
    return Fail(E_INVALIDARG, FALSE);
  }
  Arena measure(nullptr);
  fill(measure);
  if (measure.size() > 0xFFFFFFFFu) {
    return FailWin32(ERROR_ARITHMETIC_OVERFLOW, FALSE);
  }
  const DWORD needed = static_cast<DWORD>(measure.size());
  if (pvData == nullptr) {
    *pcbData = needed;
    return TRUE;
  }
  if (*pcbData < needed) {
    *pcbData = needed;
    return FailWin32(ERROR_MORE_DATA, FALSE);
  }
  if (reinterpret_cast<std::uintptr_t>(pvData) % alignof(void*) != 0) {
    return Fail(E_INVALIDARG, FALSE);
  }
  Arena write(static_cast<BYTE*>(pvData));
  fill(write);
  *pcbData = needed;
  return TRUE;
}

// The size-query protocol over plain bytes (no alignment needed).
inline BOOL CopyOut(std::span<const BYTE> value, void* pvData, DWORD* pcbData) {
  if (pcbData == nullptr) {
    return Fail(E_INVALIDARG, FALSE);
  }
  if (value.size() > 0xFFFFFFFFu) {
    return FailWin32(ERROR_ARITHMETIC_OVERFLOW, FALSE);
  }
  const DWORD needed = static_cast<DWORD>(value.size());
  if (pvData == nullptr) {
    *pcbData = needed;
    return TRUE;
  }
  if (*pcbData < needed) {
    *pcbData = needed;
    return FailWin32(ERROR_MORE_DATA, FALSE);
  }
  if (needed != 0) {
    std::memcpy(pvData, value.data(), needed);
  }
  *pcbData = needed;
  return TRUE;
}

inline BOOL CopyOutDword(DWORD value, void* pvData, DWORD* pcbData) {
  BYTE bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  return CopyOut(bytes, pvData, pcbData);
}

// Little-endian copy of big-endian INTEGER content octets, as the platform keeps integers.
inline void ReverseInto(std::span<const BYTE> bigEndian, BYTE* out) noexcept {
  for (std::size_t i = 0; i < bigEndian.size(); ++i) {
    out[i] = bigEndian[bigEndian.size() - 1 - i];
  }
}

}  // namespace Velmora::Platform::Capi
