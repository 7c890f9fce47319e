// Mapping of Windows-style paths onto the host file system: drive letters
// below a drive root folder, both separators, and names found regardless of
// case as Windows finds them.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/internal.h"
#include "platform/posix/posix_paths.h"

namespace platform {

namespace {
std::mutex RootLock;
bool RootSet = false;
std::string Root;

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case.
bool FindIgnoringCase(const std::string &folder, const std::string &name, std::string &found) {
  DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr)
    return false;
  bool ok = false;
  while (dirent *entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      ok = true;
      break;
    }
  }
  closedir(dir);
  return ok;
}

std::string Joined(const std::string &base, const std::string &name) {
  if (base.empty())
    return name;
  if (base.back() == '/')
    return base + name;
  return base + "/" + name;
}
} // namespace

std::string DriveRoot() {
  std::lock_guard<std::mutex> guard(RootLock);
  if (!RootSet) {
    const char *env = std::getenv("ZRK_DRIVES");
    Root = (env != nullptr && *env != '\0') ? env : "/tmp/zrk-drives";
    RootSet = true;
  }
  return Root;
}

void SetDriveRoot(std::string_view folder) {
  std::lock_guard<std::mutex> guard(RootLock);
  Root = std::string(folder);
  while (Root.size() > 1 && Root.back() == '/')
    Root.pop_back();
  RootSet = true;
}

bool HostIsWindows() {
  return false;
}

std::string NativePath(std::string_view path) {
  return posix::MapPath(path);
}

namespace posix {

std::string MapPath(std::string_view path) {
  std::string base;
  std::string_view rest = path;
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (drive) {
    const char letter = static_cast<char>(path[0] & ~0x20);
    const std::string root = DriveRoot();
    base = root + "/" + letter;
    // A drive always exists on Windows; make its folder on first use.
    if (!Exists(base)) {
      mkdir(root.c_str(), 0777);
      mkdir(base.c_str(), 0777);
    }
    rest = path.substr(2);
  } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
    base = "/";
  }

  std::string direct = base;
  std::vector<std::string> parts;
  std::string part;
  for (char c : rest) {
    if (c == '\\' || c == '/') {
      if (!part.empty())
        parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty())
    parts.push_back(part);
  for (const auto &p : parts)
    direct = Joined(direct, p);
  if (direct.empty())
    direct = path.empty() ? std::string() : ".";
  if (parts.empty() || Exists(direct))
    return direct;

  // Walk the components; once one is missing the rest are taken as they are.
  std::string mapped = base;
  bool lost = false;
  for (const auto &p : parts) {
    std::string candidate = Joined(mapped, p);
    if (!lost && p != "." && p != ".." && !Exists(candidate)) {
      std::string found;
      if (FindIgnoringCase(mapped, p, found))
        candidate = Joined(mapped, found);
      else
        lost = true;
    }
    mapped = candidate;
  }
  return mapped;
}

int ErrorFromErrno(int error, const std::string &nativePath) {
  switch (error) {
  case 0:
    return ErrorSuccess;
  case ENOENT: {
    if (nativePath.empty())
      return ErrorFileNotFound;
    const std::size_t cut = nativePath.find_last_of('/');
    if (cut == std::string::npos || cut == 0)
      return ErrorFileNotFound;
    struct stat st;
    const std::string parent = nativePath.substr(0, cut);
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

bool IsReadOnly(const std::string &nativePath) {
  struct stat st;
  return stat(nativePath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

bool AttributesOf(const std::string &nativePath, const std::string &name, std::uint32_t &attributes,
                  std::uint64_t *size) {
  struct stat st;
  if (stat(nativePath.c_str(), &st) != 0)
    return FailErrno(errno, nativePath);
  std::uint32_t a = 0;
  if (S_ISDIR(st.st_mode))
    a |= faDirectory;
  else
    a |= faArchive; // what Windows gives a file that was just written
  if (!S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
    a |= faReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    a |= faHidden;
  attributes = a;
  if (size != nullptr)
    *size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  return true;
}

} // namespace posix
} // namespace platform
