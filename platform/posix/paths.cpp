// Mapping of Windows-style paths onto the host file system: drive letters
// below a drive root folder, both separators, and names found regardless of
// case as Windows finds them.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

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

// Names of recently searched folders, so that a name that is not there (a
// file about to be created, a temporary name) costs no reading of the whole
// folder: with one search per new file, a folder of n files would cost O(n²).
// The names are kept in step through inotify: the kernel queues an event for
// every entry created, removed or renamed in a watched folder, by any process,
// before the call that made the change returns, and each search first applies
// the queued events. Folder times cannot do this: with coarse timestamps a
// change in the same tick as the reading leaves them as they were. Names fold
// ASCII case only, as strcasecmp does in the C locale the program runs in.
unsigned char FoldCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c | 0x20) : c;
}

struct TFoldHash {
  std::size_t operator()(const std::string &name) const noexcept {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (char c : name)
      h = (h ^ FoldCase(static_cast<unsigned char>(c))) * 1099511628211ull;
    return static_cast<std::size_t>(h);
  }
};

struct TFoldEqual {
  bool operator()(const std::string &a, const std::string &b) const noexcept {
    if (a.size() != b.size())
      return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  }
};

// A multiset: a case-sensitive file system may hold "Foo" and "FOO" at once.
using TNameSet = std::unordered_multiset<std::string, TFoldHash, TFoldEqual>;

// Folders are known by identity, not by path: a watch follows its folder
// through renames, and one folder reached by two paths has one watch.
struct TFolderId {
  dev_t Device = 0;
  ino_t Inode = 0;
  bool operator==(const TFolderId &other) const {
    return Device == other.Device && Inode == other.Inode;
  }
};

struct TFolderIdHash {
  std::size_t operator()(const TFolderId &id) const noexcept {
    return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.Device) * 1000003u ^
                                      static_cast<std::uint64_t>(id.Inode));
  }
};

struct TFolderNames {
  int Watch = -1;
  std::uint64_t LastUse = 0;
  TNameSet Names;
};

constexpr std::size_t MaxCachedFolders = 64;
// About 2 MiB of names in all; a bigger folder is searched as it is read.
constexpr std::size_t MaxCachedNames = 32768;

// The inotify descriptor, made on first use; without one nothing is kept.
struct TWatcher {
  int Fd = -1;
  bool Tried = false;
  ~TWatcher() {
    if (Fd >= 0)
      close(Fd);
  }
};

// Plain globals, not leaked ones: the unzip library's copy of the seam must
// give its names and its descriptor back when the library is unloaded.
std::mutex CacheLock;
TWatcher Watcher;
std::unordered_map<TFolderId, TFolderNames, TFolderIdHash> Cache;
std::unordered_map<int, TFolderId> FolderOfWatch;
std::size_t CachedNames = 0;
std::uint64_t CacheClock = 0;

const char *OsFolder(const std::string &folder) {
  return folder.empty() ? "." : folder.c_str();
}

using TCacheIterator = std::unordered_map<TFolderId, TFolderNames, TFolderIdHash>::iterator;

// `watchGone`: the kernel has already dropped the watch.
void Forget(TCacheIterator it, bool watchGone = false) {
  CachedNames -= it->second.Names.size();
  FolderOfWatch.erase(it->second.Watch);
  if (!watchGone)
    inotify_rm_watch(Watcher.Fd, it->second.Watch);
  Cache.erase(it);
}

void ForgetAll() {
  while (!Cache.empty())
    Forget(Cache.begin());
}

void EvictBeyondBounds(const TFolderId &keep) {
  while (Cache.size() > MaxCachedFolders || CachedNames > MaxCachedNames) {
    auto oldest = Cache.end();
    for (auto it = Cache.begin(); it != Cache.end(); ++it)
      if (!(it->first == keep) &&
          (oldest == Cache.end() || it->second.LastUse < oldest->second.LastUse))
        oldest = it;
    if (oldest == Cache.end())
      return;
    Forget(oldest);
  }
}

// Only the last event for a name tells whether it is there, so events that a
// reading of the folder already saw may be applied again without harm.
void ApplyEvent(const inotify_event &event, const char *eventName) {
  if ((event.mask & IN_Q_OVERFLOW) != 0) {
    ForgetAll();
    return;
  }
  const auto owner = FolderOfWatch.find(event.wd);
  if (owner == FolderOfWatch.end())
    return;
  const auto it = Cache.find(owner->second);
  if (it == Cache.end())
    return;
  if ((event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) != 0) {
    Forget(it, (event.mask & IN_IGNORED) != 0);
    return;
  }
  if (event.len == 0)
    return;
  const std::string name(eventName); // the kernel pads it with NULs
  TNameSet &names = it->second.Names;
  auto range = names.equal_range(name);
  auto exact = range.first;
  while (exact != range.second && *exact != name)
    ++exact;
  if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 && exact == range.second) {
    names.emplace(name);
    ++CachedNames;
  } else if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0 && exact != range.second) {
    names.erase(exact);
    --CachedNames;
  }
}

void ApplyQueuedEvents() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = read(Watcher.Fd, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0 && errno != EAGAIN)
        ForgetAll(); // events may be lost: trust nothing kept
      return;
    }
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      ApplyEvent(event, buffer + at + sizeof event);
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
    if (CachedNames > MaxCachedNames)
      EvictBeyondBounds(TFolderId());
  }
}

bool WatcherReady() {
  if (!Watcher.Tried) {
    Watcher.Tried = true;
    Watcher.Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  return Watcher.Fd >= 0;
}

// Reads the names of `folder`; `id` is the identity of the folder read.
bool ReadNames(const std::string &folder, TNameSet &names, TFolderId &id) {
  DIR *dir = opendir(OsFolder(folder));
  if (dir == nullptr)
    return false;
  struct stat st;
  if (fstat(dirfd(dir), &st) == 0) {
    id.Device = st.st_dev;
    id.Inode = st.st_ino;
  }
  while (dirent *entry = readdir(dir)) {
    const char *name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
      names.emplace(name);
  }
  closedir(dir);
  return true;
}

bool FindIn(const TNameSet &names, const std::string &name, std::string &found) {
  const auto match = names.find(name);
  if (match == names.end())
    return false;
  found = *match;
  return true;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case; `st` is
// the folder's stat.
bool FindIgnoringCase(const std::string &folder, const struct stat &st, const std::string &name,
                      std::string &found) {
  std::lock_guard<std::mutex> guard(CacheLock);
  const TFolderId id{st.st_dev, st.st_ino};
  if (WatcherReady()) {
    ApplyQueuedEvents();
    auto it = Cache.find(id);
    if (it != Cache.end()) {
      it->second.LastUse = ++CacheClock;
      return FindIn(it->second.Names, name, found);
    }
  }
  // Watched before it is read, so that no change slips between the two.
  int watch = -1;
  if (Watcher.Fd >= 0)
    watch = inotify_add_watch(Watcher.Fd, OsFolder(folder),
                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                  IN_ONLYDIR);
  TNameSet names;
  TFolderId read;
  const bool ok = ReadNames(folder, names, read);
  const bool keep = ok && watch >= 0 && read == id && names.size() <= MaxCachedNames &&
                    FolderOfWatch.find(watch) == FolderOfWatch.end();
  if (!keep) {
    // Not kept: the folder changed under its path, is too big or unreadable.
    if (watch >= 0 && FolderOfWatch.find(watch) == FolderOfWatch.end())
      inotify_rm_watch(Watcher.Fd, watch);
    return ok && FindIn(names, name, found);
  }
  TFolderNames &entry = Cache[id];
  entry.Watch = watch;
  entry.LastUse = ++CacheClock;
  entry.Names.swap(names);
  CachedNames += entry.Names.size();
  FolderOfWatch[watch] = id;
  // Changes between the watch and the reading are queued; apply them now.
  ApplyQueuedEvents();
  EvictBeyondBounds(id);
  const auto it = Cache.find(id);
  if (it != Cache.end())
    return FindIn(it->second.Names, name, found);
  // Dropped at once (the event queue overflowed, the folder went): read again.
  names.clear();
  return ReadNames(folder, names, read) && FindIn(names, name, found);
}

bool FindIgnoringCase(const std::string &folder, const std::string &name, std::string &found) {
  struct stat st;
  if (stat(OsFolder(folder), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return FindIgnoringCase(folder, st, name, found);
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

  // Usually only the last name is missing and its folder is there as given;
  // the folder's stat then serves the cached search too.
  const std::string &last = parts.back();
  if (last != "." && last != "..") {
    std::string parent = base;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
      parent = Joined(parent, parts[i]);
    struct stat st;
    if (stat(OsFolder(parent), &st) == 0 && S_ISDIR(st.st_mode)) {
      std::string found;
      return FindIgnoringCase(parent, st, last, found) ? Joined(parent, found) : direct;
    }
  }

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
