// The file operations the library calls, under the platform's names: CreateFileW, GetFileSize,
// ReadFile and CloseHandle on POSIX descriptors, with the platform's error numbers in the
// thread's last error (platform/errors/last_error.h). Only what the library needs: opening an
// existing file for reading, its size, reading it.
//
//   FileHandle file(CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
//                               FILE_ATTRIBUTE_NORMAL, nullptr));
//   if (!file) { ... GetLastError() ... }
#pragma once

#include <cstdint>

#include "platform/base/types.h"

namespace Velmora::Platform {

using HANDLE = void*;
// The value CreateFileW returns when it fails (all bits set, as on the original platform).
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

struct SECURITY_ATTRIBUTES;

// Opens the existing file `fileName` for reading. Only GENERIC_READ with OPEN_EXISTING is
// offered; other access or disposition values fail with ERROR_INVALID_PARAMETER, and so does a
// null name. The share mode, attributes and template are accepted and not used (POSIX has no
// share modes). A folder fails with ERROR_ACCESS_DENIED, as the platform refuses to open one as
// a file; a missing file with ERROR_FILE_NOT_FOUND, a missing folder on the way with
// ERROR_PATH_NOT_FOUND; a name that the locale's code set cannot spell with
// ERROR_NO_UNICODE_TRANSLATION. The file is opened without blocking, so a FIFO or a device never
// holds the caller. Returns INVALID_HANDLE_VALUE on failure, with the reason as last error.
HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* security, DWORD creationDisposition, DWORD flags,
                   HANDLE templateFile) noexcept;

// The size of the open file: the low 32 bits as result, the high 32 bits in *sizeHigh when it is
// not null. Failure returns INVALID_FILE_SIZE with the reason as last error; since that value is
// also a valid low half, a caller tells the two apart by the last error, which is set to
// ERROR_SUCCESS on success.
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) noexcept;

// Reads up to `toRead` bytes into `buffer`: as many as the file still holds from its current
// position, so fewer only at its end. *bytesRead gets the count. `overlapped` must be null.
// Returns FALSE with the reason as last error (ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER,
// the system's read error).
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* bytesRead, void* overlapped) noexcept;

// Closes a handle of CreateFileW; FALSE with ERROR_INVALID_HANDLE for null or
// INVALID_HANDLE_VALUE.
BOOL CloseHandle(HANDLE handle) noexcept;

// Owns a handle of CreateFileW and closes it once; false when it holds none.
class FileHandle {
 public:
  FileHandle() noexcept = default;
  explicit FileHandle(HANDLE handle) noexcept : m_handle(handle) {}
  ~FileHandle() { reset(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = INVALID_HANDLE_VALUE;
  }
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      reset();
      m_handle = other.m_handle;
      other.m_handle = INVALID_HANDLE_VALUE;
    }
    return *this;
  }

  HANDLE get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept {
    return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
  }
  void reset() noexcept {
    if (*this) {
      CloseHandle(m_handle);
    }
    m_handle = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
};

}  // namespace Velmora::Platform
