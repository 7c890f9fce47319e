// Windows error numbers for errno values: what the seam reports for a failed
// system call.
#include <cerrno>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"
#include "platform/posix/errno_map.h"

namespace platform::posix {

int ErrorFromErrno(int error, const std::string &nativePath) {
  switch (error) {
  case 0:
    return ErrorSuccess;
  case ENOENT: {
    if (nativePath.empty())
      return ErrorFileNotFound;
    // The parent without its closing "/"; none for a name in "/" itself.
    const std::size_t nameStart = NameStart(nativePath, "/");
    if (nameStart <= 1)
      return ErrorFileNotFound;
    struct stat st;
    const std::string parent = nativePath.substr(0, nameStart - 1);
    return (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ErrorFileNotFound
                                                                   : ErrorPathNotFound;
  }
  case ENOTDIR:
    return ErrorPathNotFound;
  case EACCES:
  case EPERM:
  case EISDIR:
  case EROFS:
    return ErrorAccessDenied;
  case EEXIST:
    return ErrorAlreadyExists;
  case ENOSPC:
  case EDQUOT:
    return ErrorDiskFull;
  case EBUSY:
  case ETXTBSY:
    return ErrorSharingViolation;
  case ENOTEMPTY:
    return 145; // ERROR_DIR_NOT_EMPTY
  case EXDEV:
    return 17; // ERROR_NOT_SAME_DEVICE
  case EMFILE:
  case ENFILE:
    return 4; // ERROR_TOO_MANY_OPEN_FILES
  case EBADF:
    return 6; // ERROR_INVALID_HANDLE
  case ENAMETOOLONG:
    return 206; // ERROR_FILENAME_EXCED_RANGE
  case EINVAL:
    return 87; // ERROR_INVALID_PARAMETER
  case ENOMEM:
    return 8; // ERROR_NOT_ENOUGH_MEMORY
  case EIO:
    return ErrorWriteFault;
  default:
    return 31; // ERROR_GEN_FAILURE
  }
}

bool FailErrno(int error, const std::string &nativePath) {
  detail::SetError(ErrorFromErrno(error, nativePath));
  return false;
}

bool Fail(int windowsError) {
  detail::SetError(windowsError);
  return false;
}

} // namespace platform::posix
