// Mapping of Windows-style paths onto the host file system: drive letters
// below a drive root folder, both separators, and names found regardless of
// case as Windows finds them.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
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
// An entry holds while the folder's identity and its modification and change
// times are those seen when it was read or last changed through the seam;
// Linux (6.13 on) gives every change that follows a stat a new fine-grained
// timestamp, so a change by anybody else shows. Names fold ASCII case only,
// as strcasecmp does in the C locale the program runs in.
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

struct TFolderNames {
  dev_t Device = 0;
  ino_t Inode = 0;
  timespec Modified{};
  timespec Changed{};
  std::uint64_t Generation = 0; // new whenever Names or the times are set
  std::uint64_t LastUse = 0;
  TNameSet Names;
};

constexpr std::size_t MaxCachedFolders = 64;
// About 2 MiB of names in all; a bigger folder is searched as it is read.
constexpr std::size_t MaxCachedNames = 32768;

// Plain globals, not leaked ones: the unzip library's copy of the seam must
// give its names back when the library is unloaded.
std::mutex CacheLock;
std::unordered_map<std::string, TFolderNames> Cache; // by native folder path
std::size_t CachedNames = 0;
std::uint64_t CacheClock = 0;

const char *OsFolder(const std::string &folder) {
  return folder.empty() ? "." : folder.c_str();
}

bool SameTime(const timespec &a, const timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool StillValid(const TFolderNames &names, const struct stat &st) {
  return names.Device == st.st_dev && names.Inode == st.st_ino &&
         SameTime(names.Modified, st.st_mtim) && SameTime(names.Changed, st.st_ctim);
}

void Stamp(TFolderNames &names, const struct stat &st) {
  names.Device = st.st_dev;
  names.Inode = st.st_ino;
  names.Modified = st.st_mtim;
  names.Changed = st.st_ctim;
  names.Generation = ++CacheClock;
}

void Forget(std::unordered_map<std::string, TFolderNames>::iterator it) {
  CachedNames -= it->second.Names.size();
  Cache.erase(it);
}

void EvictBeyondBounds(const std::string &keep) {
  while (Cache.size() > MaxCachedFolders || CachedNames > MaxCachedNames) {
    auto oldest = Cache.end();
    for (auto it = Cache.begin(); it != Cache.end(); ++it)
      if (it->first != keep &&
          (oldest == Cache.end() || it->second.LastUse < oldest->second.LastUse))
        oldest = it;
    if (oldest == Cache.end())
      return;
    Forget(oldest);
  }
}

bool ReadNames(const std::string &folder, TNameSet &names) {
  DIR *dir = opendir(OsFolder(folder));
  if (dir == nullptr)
    return false;
  while (dirent *entry = readdir(dir)) {
    const char *name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
      names.emplace(name);
  }
  closedir(dir);
  return true;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case; `st` is
// the folder's stat, taken before this call so that a change meanwhile shows.
bool FindIgnoringCase(const std::string &folder, const struct stat &st, const std::string &name,
                      std::string &found) {
  std::lock_guard<std::mutex> guard(CacheLock);
  auto it = Cache.find(folder);
  if (it == Cache.end() || !StillValid(it->second, st)) {
    TNameSet names;
    if (!ReadNames(folder, names)) {
      if (it != Cache.end())
        Forget(it);
      return false;
    }
    if (names.size() > MaxCachedNames) {
      if (it != Cache.end())
        Forget(it);
      auto match = names.find(name);
      if (match == names.end())
        return false;
      found = *match;
      return true;
    }
    if (it == Cache.end())
      it = Cache.emplace(folder, TFolderNames()).first;
    CachedNames = CachedNames - it->second.Names.size() + names.size();
    it->second.Names.swap(names);
    Stamp(it->second, st);
    EvictBeyondBounds(folder);
  }
  it->second.LastUse = ++CacheClock;
  auto match = it->second.Names.find(name);
  if (match == it->second.Names.end())
    return false;
  found = *match;
  return true;
}

bool FindIgnoringCase(const std::string &folder, const std::string &name, std::string &found) {
  struct stat st;
  if (stat(OsFolder(folder), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return FindIgnoringCase(folder, st, name, found);
}

// Folder and bare name of a native path, as MapPath joins them.
void SplitNative(const std::string &path, std::string &folder, std::string &name) {
  const std::size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) {
    folder.clear();
    name = path;
  } else {
    folder = cut == 0 ? std::string("/") : path.substr(0, cut);
    name = path.substr(cut + 1);
  }
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

TEntryChange::TEntryChange(const std::string &removed, const std::string &added) {
  for (const std::string *path : {&removed, &added}) {
    if (path->empty())
      continue;
    TEdit &edit = Edits[Count++];
    SplitNative(*path, edit.Folder, edit.Name);
    edit.Added = path == &added;
  }
  std::lock_guard<std::mutex> guard(CacheLock);
  for (int i = 0; i < Count; ++i) {
    TEdit &edit = Edits[i];
    if (edit.Name.empty() || edit.Name == "." || edit.Name == "..")
      continue;
    if (i == 1 && edit.Folder == Edits[0].Folder) {
      edit.Generation = Edits[0].Generation;
      continue;
    }
    auto it = Cache.find(edit.Folder);
    struct stat st;
    if (it != Cache.end() && stat(OsFolder(edit.Folder), &st) == 0 && StillValid(it->second, st))
      edit.Generation = it->second.Generation;
  }
}

void TEntryChange::Commit() {
  std::lock_guard<std::mutex> guard(CacheLock);
  for (int i = 0; i < Count; ++i) {
    const TEdit &edit = Edits[i];
    if (edit.Generation == 0 || (i == 1 && edit.Folder == Edits[0].Folder))
      continue;
    auto it = Cache.find(edit.Folder);
    if (it == Cache.end())
      continue;
    struct stat st;
    // Another thread changed the folder meanwhile: whether its stat saw our
    // change is unknown, so read the folder afresh next time.
    if (it->second.Generation != edit.Generation || stat(OsFolder(edit.Folder), &st) != 0) {
      Forget(it);
      continue;
    }
    TNameSet &names = it->second.Names;
    for (int j = i; j < Count; ++j) {
      const TEdit &change = Edits[j];
      if (change.Folder != edit.Folder)
        continue;
      auto range = names.equal_range(change.Name);
      auto exact = range.first;
      while (exact != range.second && *exact != change.Name)
        ++exact;
      if (!change.Added && exact != range.second) {
        names.erase(exact);
        --CachedNames;
      } else if (change.Added && exact == range.second) {
        names.emplace(change.Name);
        ++CachedNames;
      }
    }
    Stamp(it->second, st);
    if (CachedNames > MaxCachedNames)
      EvictBeyondBounds(std::string());
  }
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
