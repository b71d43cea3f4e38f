// Basic types of the platform layer: the fixed-width stand-ins for the Windows types that the
// library's interfaces name. On Linux `long` is 64 bits, so every 32-bit platform type is spelt
// with an explicit width here.
#pragma once

#include <cstdint>

namespace Velmora::Platform {

using HRESULT = std::int32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using BYTE = unsigned char;
using ALG_ID = std::uint32_t;
using WCHAR16 = unsigned short;  // one UTF-16 code unit

// 100-nanosecond intervals since 1601-01-01 UTC, split in two 32-bit halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
// The Unix epoch comes this many seconds after FILETIME's; a second has this many ticks.
inline constexpr std::int64_t kFileTimeEpochOffsetSeconds = 11644473600;
inline constexpr std::uint64_t kFileTimeTicksPerSecond = 10'000'000;
// 1970-01-01 00:00:00 UTC as a FILETIME value.
inline constexpr std::uint64_t kUnixEpochFileTime =
    static_cast<std::uint64_t>(kFileTimeEpochOffsetSeconds) * kFileTimeTicksPerSecond;

struct CRYPT_DATA_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPT_DATA_BLOB;
using CRYPT_OBJID_BLOB = CRYPT_DATA_BLOB;

// A parent window: null, or the parent widget of the viewer (opaque to the library).
struct HWND__;
using HWND = HWND__*;
// A property page made by the viewer module (opaque to the library and its callers).
struct _PSP;
using HPROPSHEETPAGE = _PSP*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}
constexpr DWORD HRESULT_FACILITY(HRESULT hr) {
  return (static_cast<DWORD>(hr) >> 16) & 0x1FFF;
}
constexpr DWORD HRESULT_CODE(HRESULT hr) {
  return static_cast<DWORD>(hr) & 0xFFFF;
}

// Builds an HRESULT from its unsigned 32-bit spelling (0x8007000E ...).
constexpr HRESULT MakeHResult(std::uint32_t value) {
  return static_cast<HRESULT>(value);
}

}  // namespace Velmora::Platform
