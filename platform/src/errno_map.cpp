// errno -> Win32 error numbers, so callers above the platform see one
// numbering whatever the failing system call was.
#include <cerrno>

#include "q7m/platform_sys.h"

extern "C" Q7M_EXPORT uint32_t Q7M_API Q7M_Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return Q7M_ERROR_SUCCESS;
    case ENOENT:
      return Q7M_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return Q7M_ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return Q7M_ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
      return Q7M_ERROR_ACCESS_DENIED;
    case EBADF:
      return Q7M_ERROR_INVALID_HANDLE;
    case ENOMEM:
      return Q7M_ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
      return Q7M_ERROR_ALREADY_EXISTS;
    case EINVAL:
    case ERANGE:
    case EDOM:
      return Q7M_ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
      return Q7M_ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return Q7M_ERROR_FILENAME_EXCED_RANGE;
    case EPIPE:
      return Q7M_ERROR_BROKEN_PIPE;
    case EBUSY:
      return Q7M_ERROR_BUSY;
    case ETIMEDOUT:
      return Q7M_ERROR_TIMEOUT;
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
      return Q7M_ERROR_DEVICE_NOT_CONNECTED;
    case ECANCELED:
      return Q7M_ERROR_OPERATION_ABORTED;
    case EAGAIN:
      return Q7M_ERROR_IO_PENDING;
    case ENOSYS:
    case EOPNOTSUPP:
    case ENOTTY:
      return Q7M_ERROR_NOT_SUPPORTED;
    case EFAULT:
      return Q7M_ERROR_NOACCESS;
    case EIO:
      return Q7M_ERROR_GEN_FAILURE;
    case ESRCH:
      return Q7M_ERROR_INVALID_PARAMETER;
    case ENOLCK:
    case EDEADLK:
      return Q7M_ERROR_LOCK_VIOLATION;
    default:
      return Q7M_ERROR_GEN_FAILURE;
  }
}
