// The registry of the platform layer: two read-only hives of typed values, each read from a text
// file in the registry editor's export format (see reg_file.h for the format).
//
//   HKEY_LOCAL_MACHINE  $VELMORA_ROOT/etc/velmora/machine.reg
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/velmora/user.reg  ($XDG_CONFIG_HOME defaults to ~/.config)
//
// Nothing is ever written. A hive whose file is missing is an empty hive. A hive whose file does
// not parse (or cannot be read) is broken: every RegOpenKeyExW below its root fails, with
// ERROR_BADDB (1009) for a file that does not parse and the system's error for one that cannot be
// read, and RegistryHiveProblem tells where the file is broken. A broken hive is never read as
// if it were empty, so the administrator's policies cannot be skipped by a typing mistake.
//
// Files are read when a key is opened under a root. A parsed file is kept and used again while
// its size, inode and times are unchanged and it was last modified well before it was read (a
// file changed within the file system's timestamp granularity is read again), so a change of
// the file reaches the next opening of a key. An open key keeps the version of its hive that it
// was opened in: its values do not change under a caller that is enumerating them.
//
// The operations have the platform's names, arguments and return codes (LSTATUS, a Win32 error
// number): ERROR_FILE_NOT_FOUND (2) for a missing key or value, ERROR_MORE_DATA (234) when a
// buffer is too small (its size is set to what is needed), ERROR_NO_MORE_ITEMS (259) past the
// last value, ERROR_INVALID_HANDLE (6) for a key that is not open, ERROR_ACCESS_DENIED (5) for a
// request of write access, ERROR_INVALID_PARAMETER (87) for missing or contradictory arguments.
//
// Texts are wchar_t (UTF-32 on Linux). String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is
// returned as wchar_t units with its terminating NULs, sizes counted in bytes, so a REG_SZ "ab"
// is 12 bytes here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/free_with.h"
#include "platform/base/types.h"

namespace Velmora::Platform {

struct HKEY__;  // an open key; defined by the registry
using HKEY = HKEY__*;
using LSTATUS = LONG;
using REGSAM = DWORD;

// The predefined roots, with the platform's handle values.
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u});

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Access rights. Any right beyond reading is refused with ERROR_ACCESS_DENIED.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ =
    READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
inline constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// Opens `subKey` (backslash-separated, case-insensitive; null or empty opens `key` itself again)
// under `key`, an open key or a predefined root. `options` must be 0. On success *result is a new
// handle to close with RegCloseKey; on failure it is null.
LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD options, REGSAM desired,
                      HKEY* result) noexcept;

// Reads the value `name` of `key` (null or empty: the default value "@"). `reserved` must be
// null. Each of `type`, `data` and `dataSize` may be null, but `data` needs `dataSize`. With a
// null `data` and a `dataSize`, *dataSize is set to the value's size (a size query). With a
// buffer of *dataSize bytes that is too small, *dataSize is set to the size needed and the call
// fails with ERROR_MORE_DATA, nothing being copied. The type is set whenever the value exists.
LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) noexcept;

// Facts of `key`: its class (always empty), the number of its direct subkeys and the length of
// the longest subkey name in characters, the number of its values, the longest value name in
// characters and the longest value data in bytes, the size of its security descriptor (0) and
// the last change of its hive file. Every out-argument may be null. A class buffer too small
// for the empty class's terminator fails with ERROR_MORE_DATA.
LSTATUS RegQueryInfoKeyW(HKEY key, wchar_t* className, DWORD* classLength, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                         DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptorSize, FILETIME* lastWriteTime) noexcept;

// The value at `index` of `key` (values keep the order in which the hive file names them; the
// default value has an empty name). The name buffer holds *nameLength characters including the
// terminator; on success *nameLength is set to the name's length without it. A name buffer too
// small fails with ERROR_MORE_DATA and sets *nameLength to the characters needed with the
// terminator; data is handled as in RegQueryValueExW. Past the last value: ERROR_NO_MORE_ITEMS.
LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize) noexcept;

// Closes a key opened by RegOpenKeyExW. Closing a predefined root does nothing and succeeds; a
// handle that is not open (closed already, or never opened) gives ERROR_INVALID_HANDLE.
LSTATUS RegCloseKey(HKEY key) noexcept;

// ---- Helpers of this layer (not platform operations) ----

// Why the hive of `root` (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER) is broken, as of the last
// time it was read: "<file>, line <n>: <problem>" or "<file>: <system error>"; empty when the
// hive was read without problem or never read.
std::string RegistryHiveProblem(HKEY root);

// The file that holds the hive of `root`, as the environment names it now; empty when no file
// can be named (no HOME and no XDG_CONFIG_HOME for the user hive).
std::string RegistryHivePath(HKEY root);

// Owns an open key; closes it when it goes out of scope.
using UniqueHKey = std::unique_ptr<HKEY__, FreeWith<RegCloseKey>>;

}  // namespace Velmora::Platform
