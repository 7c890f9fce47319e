// POSIX side of the single-instance claim: an exclusive flock on a lock file
// named after the claim, opened close-on-exec so that children do not keep it.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "platform/instance.h"

namespace platform {

namespace {

std::mutex FolderLock;
std::string FolderOverride;

std::string LockFilePath(std::string_view name) {
  std::string path = LockFolder();
  if (path.empty() || path.back() != '/')
    path += '/';
  for (char c : name)
    path += (c == '/' || c == '\0') ? '_' : c;
  return path + ".lock";
}

} // namespace

std::string LockFolder() {
  {
    std::lock_guard<std::mutex> guard(FolderLock);
    if (!FolderOverride.empty())
      return FolderOverride;
  }
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  return (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
}

void SetLockFolder(std::string_view folder) {
  std::lock_guard<std::mutex> guard(FolderLock);
  FolderOverride = std::string(folder);
}

bool TSingleInstance::Acquire(std::string_view name) {
  if (Held())
    return true;
  try {
    const std::string path = LockFilePath(name);
    // Read access is enough for flock, and lets another user's copy share a
    // lock file that the first one created.
    int fd = -1;
    do
      fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
      return true;
    int locked = -1;
    do
      locked = flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) {
      Handle = fd;
      return true;
    }
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return !busy;
  } catch (...) {
    return true;
  }
}

} // namespace platform
