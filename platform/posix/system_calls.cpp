// The Linux-only calls of the POSIX seam and their plain POSIX fallbacks.
#include "platform/posix/system_calls.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

#ifdef __linux__
#include <cstdio>
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#endif

namespace platform::posix {

#ifdef __linux__

ssize_t CopyFileRange(int in, int out, std::size_t count) {
  return copy_file_range(in, nullptr, out, nullptr, count, 0);
}

int ReserveKeepingSize(int fd, off_t bytes) {
  return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, bytes);
}

int RenameNoReplace(const char *from, const char *to) {
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

bool OwnProgramPath(std::string &path) {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size() - 1);
  if (n < 0)
    return false;
  buffer.resize(static_cast<std::size_t>(n));
  path = std::move(buffer);
  return true;
}

namespace {
bool KernelGivesFineTimesOnDemand() {
  static const bool fine = [] {
    utsname name;
    int major = 0;
    int minor = 0;
    if (uname(&name) != 0 || std::sscanf(name.release, "%d.%d", &major, &minor) != 2)
      return false;
    return major > 6 || (major == 6 && minor >= 13);
  }();
  return fine;
}
} // namespace

bool FineTimesOnDemand(const char *folder) {
  if (!KernelGivesFineTimesOnDemand())
    return false;
  struct statfs fs;
  if (statfs(folder, &fs) != 0)
    return false;
  constexpr unsigned long Ext4 = 0xEF53, Xfs = 0x58465342, Btrfs = 0x9123683E, Tmpfs = 0x01021994;
  const auto type = static_cast<unsigned long>(fs.f_type);
  return type == Ext4 || type == Xfs || type == Btrfs || type == Tmpfs;
}

#else

ssize_t CopyFileRange(int, int, std::size_t) {
  errno = ENOSYS;
  return -1;
}

int ReserveKeepingSize(int, off_t) {
  return 0;
}

int RenameNoReplace(const char *, const char *) {
  errno = ENOSYS;
  return -1;
}

bool OwnProgramPath(std::string &) {
  errno = ENOSYS;
  return false;
}

bool FineTimesOnDemand(const char *) {
  return false;
}

#endif

} // namespace platform::posix
