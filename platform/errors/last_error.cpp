#include "platform/errors/last_error.h"

#include <cerrno>

#include "platform/errors/winerror.h"

namespace Velmora::Platform {
namespace {
thread_local DWORD t_lastError = 0;
}  // namespace

DWORD GetLastError() noexcept {
  return t_lastError;
}
void SetLastError(DWORD code) noexcept {
  t_lastError = code;
}

DWORD Win32FromErrno(int errnoValue) noexcept {
  switch (errnoValue) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case EACCES:
    case EPERM:
    case EISDIR:  // the platform refuses to open a folder as a file the same way
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EBUSY:
      return ERROR_BUSY;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EIO:
      return ERROR_IO_DEVICE;
    case ENODEV:
    case ENXIO:
      return ERROR_DEV_NOT_EXIST;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ETIMEDOUT:
      return ERROR_TIMEOUT;
    case ENOSYS:
      return ERROR_CALL_NOT_IMPLEMENTED;
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case ECANCELED:
      return ERROR_CANCELLED;
    case EINTR:
      return ERROR_OPERATION_ABORTED;
    case EFAULT:
      return ERROR_INVALID_ADDRESS;
    case EOVERFLOW:
      return ERROR_ARITHMETIC_OVERFLOW;
    case EILSEQ:
      return ERROR_NO_UNICODE_TRANSLATION;
    case ENOEXEC:
      return ERROR_BAD_FORMAT;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace Velmora::Platform
