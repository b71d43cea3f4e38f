// CreateFileW, GetFileSize, ReadFile and CloseHandle on POSIX descriptors.
#include "platform/file/fileapi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/errors/atl_exception.h"
#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"

namespace Velmora::Platform {
namespace {

// What a HANDLE of this layer points to. A separate object (not the descriptor number cast to a
// pointer) so that descriptor 0 and stale handles can never be mistaken for each other.
struct FileObject {
  int fd;
};

FileObject* ObjectOf(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  return static_cast<FileObject*>(handle);
}

// Whether the folder that would hold `path` exists.
bool ParentExists(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return true;  // the current folder
  }
  struct stat info {};
  return ::stat(slash == 0 ? "/" : path.substr(0, slash).c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
}

HANDLE Fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD, SECURITY_ATTRIBUTES*,
                   DWORD creationDisposition, DWORD, HANDLE) noexcept {
  if (fileName == nullptr || desiredAccess != GENERIC_READ ||
      creationDisposition != OPEN_EXISTING) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string path;
  try {
    path = WideToNarrow(fileName);
  } catch (...) {
    return Fail(Win32OfCurrentException(ERROR_NO_UNICODE_TRANSLATION));
  }
  if (path.empty()) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    // A missing folder on the way is told from a missing file, as the platform tells them.
    if (error == ENOENT && !ParentExists(path)) {
      return Fail(ERROR_PATH_NOT_FOUND);
    }
    return Fail(Win32FromErrno(error));
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const DWORD code = S_ISDIR(info.st_mode) ? ERROR_ACCESS_DENIED : Win32FromErrno(errno);
    ::close(fd);
    return Fail(code);
  }
  auto* object = new (std::nothrow) FileObject{fd};
  if (object == nullptr) {
    ::close(fd);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  SetLastError(ERROR_SUCCESS);
  return object;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) noexcept {
  FileObject* object = ObjectOf(file);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  struct stat info {};
  if (::fstat(object->fd, &info) != 0) {
    SetLastError(Win32FromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (sizeHigh != nullptr) {
    *sizeHigh = static_cast<DWORD>(size >> 32);
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* bytesRead,
              void* overlapped) noexcept {
  if (bytesRead != nullptr) {
    *bytesRead = 0;
  }
  FileObject* object = ObjectOf(file);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((buffer == nullptr && toRead != 0) || bytesRead == nullptr || overlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  DWORD total = 0;
  while (total < toRead) {
    const ssize_t n = ::read(object->fd, out + total, toRead - total);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      // A descriptor opened without blocking that has nothing yet (a FIFO, a terminal) ends the
      // read like the end of a file instead of holding the caller.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        break;
      }
      *bytesRead = total;
      SetLastError(Win32FromErrno(errno));
      return FALSE;
    }
    if (n == 0) {
      break;
    }
    total += static_cast<DWORD>(n);
  }
  *bytesRead = total;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) noexcept {
  FileObject* object = ObjectOf(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const int result = ::close(object->fd);
  delete object;
  if (result != 0 && errno != EINTR) {
    SetLastError(Win32FromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

}  // namespace Velmora::Platform
