// Mapping of Windows-style paths onto the host file system: drive letters
// below a drive root folder, both separators, and names found regardless of
// case as Windows finds them.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"
#include "platform/posix/name_hashes.h"
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

// Names of the folders the seam searched, so that a name that is not there
// (a file about to be created, a temporary name) costs no reading of the
// whole folder: with one search per new file, a folder of n files would cost
// O(n²). The seam's own creates, renames and deletes keep a folder's names
// exact (TOwnChange); a change by anyone else shows in the folder's change
// time, which the names are kept with. Linux 6.13 and later give a folder a
// new change time for every change made after its time was looked at
// (fine-grained times on demand, on ext4, XFS, Btrfs and tmpfs), so a change
// in the same clock tick as the reading shows too. Elsewhere a change in that
// tick may leave the times as they were, so a folder whose times are younger
// than the coarsest file-system clock tick is read again, not trusted. Names
// are compared in their program form, folded as Windows folds them
// (Cp1252FoldedKey).

// Folded program name -> name on disk. A multimap: a case-sensitive file
// system may hold "Foo" and "FOO" at once.
using TNames = std::unordered_multimap<std::string, std::string>;

using TStamp = posix::TFolderStamp;

TStamp StampOf(const struct stat &st) {
  TStamp stamp;
  stamp.Device = st.st_dev;
  stamp.Inode = st.st_ino;
  stamp.Changed = st.st_ctim;
  stamp.Modified = st.st_mtim;
  return stamp;
}

// A folder's names: only their hashes, until a name is asked for in another
// spelling (then the names with their spellings on disk).
struct TFolderMemo {
  TStamp Stamp;
  bool Spelled = false;
  posix::TNameHashes Hashes;
  TNames Names;
  std::uint64_t LastUse = 0;
  std::size_t Count() const { return Spelled ? Names.size() : Hashes.Size(); }
};

constexpr std::size_t MaxMemoFolders = 64;
// Bounds the names kept with their spellings to about 2 MiB (hashes alone take
// 4 to 8 bytes a name); a bigger folder is searched as it is read.
constexpr std::size_t MaxMemoNames = 32768;

// Keyed by the folder's identity, so that one folder reached by two paths has
// one entry and a folder replaced under its path is not taken for the old.
std::mutex MemoLock;
std::map<std::pair<dev_t, ino_t>, TFolderMemo> Memo;
std::size_t MemoNames = 0;
std::uint64_t MemoClock = 0;

const char *OsFolder(const std::string &folder) {
  return folder.empty() ? "." : folder.c_str();
}

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

// Per device, under MemoLock: true where a change after a look at a folder's
// times always gives it new ones.
std::map<dev_t, bool> FineTimes;

bool FineTimesOnDemand(dev_t device, const std::string &folder) {
  if (!KernelGivesFineTimesOnDemand())
    return false;
  const auto known = FineTimes.find(device);
  if (known != FineTimes.end())
    return known->second;
  struct statfs fs;
  bool fine = false;
  if (statfs(OsFolder(folder), &fs) == 0) {
    constexpr unsigned long Ext4 = 0xEF53, Xfs = 0x58465342, Btrfs = 0x9123683E, Tmpfs = 0x01021994;
    const auto type = static_cast<unsigned long>(fs.f_type);
    fine = type == Ext4 || type == Xfs || type == Btrfs || type == Tmpfs;
  }
  FineTimes[device] = fine;
  return fine;
}

// Two seconds: the tick of the coarsest file-system clock (FAT); kernel
// ticks of coarse clocks are far shorter.
constexpr std::time_t SettledAfterSeconds = 2;

bool Settled(const TStamp &stamp) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::time_t newest = std::max(stamp.Changed.tv_sec, stamp.Modified.tv_sec);
  return now.tv_sec - newest > SettledAfterSeconds;
}

// Whether names kept with `kept` may stand for the folder whose stamp is now
// `stamp`.
bool Trusted(const TStamp &kept, const TStamp &stamp, const std::string &folder) {
  return kept == stamp && (FineTimesOnDemand(stamp.Device, folder) || Settled(stamp));
}

void Forget(std::map<std::pair<dev_t, ino_t>, TFolderMemo>::iterator it) {
  MemoNames -= it->second.Count();
  Memo.erase(it);
}

void EvictBeyondBounds() {
  while (Memo.size() > MaxMemoFolders || MemoNames > MaxMemoNames) {
    auto oldest = Memo.begin();
    for (auto it = Memo.begin(); it != Memo.end(); ++it)
      if (it->second.LastUse < oldest->second.LastUse)
        oldest = it;
    Forget(oldest);
  }
}

// Reads the folder's names into `memo`: their hashes, or with `spelled` the
// names themselves. `found` is the name on disk folded like `key`, if any
// (left as it was otherwise).
bool ReadNames(const std::string &folder, const std::string &key, bool spelled, TFolderMemo &memo,
               std::string &found) {
  DIR *dir = opendir(OsFolder(folder));
  if (dir == nullptr)
    return false;
  memo.Spelled = spelled;
  bool matched = false;
  while (dirent *entry = readdir(dir)) {
    const char *name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
      continue;
    std::string folded = Cp1252FoldedKey(posix::ProgramName(name));
    if (!matched && folded == key) {
      matched = true;
      found = name;
    }
    if (spelled)
      memo.Names.emplace(std::move(folded), name);
    else
      memo.Hashes.Add(posix::TNameHashes::Of(folded));
  }
  closedir(dir);
  return true;
}

enum class TAnswer { Missing, Found, Unknown };

// What the memo knows of `key`; Unknown when only its hash is there.
TAnswer FindIn(const TFolderMemo &memo, const std::string &key, std::string &found) {
  if (!memo.Spelled)
    return memo.Hashes.Has(posix::TNameHashes::Of(key)) ? TAnswer::Unknown : TAnswer::Missing;
  const auto match = memo.Names.find(key);
  if (match == memo.Names.end())
    return TAnswer::Missing;
  found = match->second;
  return TAnswer::Found;
}

// The entry of `folder` (a host path) whose name is `name` (program form)
// ignoring case; `st` is the folder's stat. `found` is the name on disk.
bool FindIgnoringCase(const std::string &folder, const struct stat &st, const std::string &name,
                      std::string &found) {
  const TStamp stamp = StampOf(st);
  const auto id = std::make_pair(st.st_dev, st.st_ino);
  const std::string key = Cp1252FoldedKey(name);
  std::lock_guard<std::mutex> guard(MemoLock);
  auto it = Memo.find(id);
  if (it != Memo.end() && Trusted(it->second.Stamp, stamp, folder)) {
    it->second.LastUse = ++MemoClock;
    const TAnswer answer = FindIn(it->second, key, found);
    if (answer != TAnswer::Unknown)
      return answer == TAnswer::Found;
  }
  if (it != Memo.end())
    Forget(it);
  TFolderMemo read;
  found.clear();
  if (!ReadNames(folder, key, false, read, found))
    return false;
  // A name found in another spelling: the folder's spellings are kept, so
  // that the next such look-up costs no reading.
  if (!found.empty()) {
    read = TFolderMemo();
    found.clear();
    if (!ReadNames(folder, key, true, read, found))
      return false;
  }
  const bool result = !found.empty();
  // Kept only when the folder did not change while it was read.
  struct stat after;
  if (read.Count() <= MaxMemoNames && stat(OsFolder(folder), &after) == 0 &&
      StampOf(after) == stamp) {
    TFolderMemo &memo = Memo[id];
    memo = std::move(read);
    memo.Stamp = stamp;
    memo.LastUse = ++MemoClock;
    MemoNames += memo.Count();
    EvictBeyondBounds();
  }
  return result;
}

bool FindIgnoringCase(const std::string &folder, const std::string &name, std::string &found) {
  struct stat st;
  if (stat(OsFolder(folder), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return FindIgnoringCase(folder, st, name, found);
}

std::string ParentOf(const std::string &nativePath) {
  const std::size_t cut = nativePath.find_last_of('/');
  if (cut == std::string::npos)
    return std::string();
  return cut == 0 ? std::string("/") : nativePath.substr(0, cut);
}

std::string NameOf(const std::string &nativePath) {
  const std::size_t cut = nativePath.find_last_of('/');
  return cut == std::string::npos ? nativePath : nativePath.substr(cut + 1);
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

TOwnChange::TOwnChange(const std::string &removed, const std::string &added,
                       const TFolderStamp *addedBefore) {
  const std::string *paths[2] = {&removed, &added};
  for (int i = 0; i < 2; ++i) {
    if (paths[i]->empty())
      continue;
    TItem &item = Items[Count++];
    item.Added = i == 1;
    item.Folder = ParentOf(*paths[i]);
    item.Name = NameOf(*paths[i]);
  }
  // One look per folder: a rename within one folder, or a stamp just taken.
  for (int i = Count - 1; i >= 0; --i) {
    TItem &item = Items[i];
    if (item.Added && addedBefore != nullptr) {
      item.Known = true;
      item.Before = *addedBefore;
    } else if (i + 1 < Count && Items[i + 1].Folder == item.Folder) {
      item.Known = Items[i + 1].Known;
      item.Before = Items[i + 1].Before;
    } else {
      struct stat st;
      item.Known = stat(OsFolder(item.Folder), &st) == 0;
      if (item.Known)
        item.Before = StampOf(st);
    }
  }
}

void TOwnChange::Done(bool succeeded) {
  std::lock_guard<std::mutex> guard(MemoLock);
  TStamp after[2];
  bool afterKnown[2] = {false, false};
  for (int i = 0; i < Count; ++i) {
    if (i == 1 && Items[0].Folder == Items[1].Folder) {
      afterKnown[1] = afterKnown[0];
      after[1] = after[0];
      continue;
    }
    struct stat st;
    afterKnown[i] = stat(OsFolder(Items[i].Folder), &st) == 0;
    if (afterKnown[i])
      after[i] = StampOf(st);
  }
  for (int i = 0; i < Count; ++i) {
    const TItem &item = Items[i];
    if (!item.Known)
      continue;
    const auto it = Memo.find(std::make_pair(item.Before.Device, item.Before.Inode));
    if (it == Memo.end())
      continue;
    // A rename within one folder: the first item has brought it up to date.
    const bool updated = i == 1 && Count == 2 && Items[0].Known && afterKnown[0] &&
                         Items[0].Before == item.Before && it->second.Stamp == after[0];
    if (!updated && it->second.Stamp != item.Before) {
      Forget(it); // changed by someone else meanwhile
      continue;
    }
    if (!afterKnown[i] || (!succeeded && after[i] != item.Before)) {
      Forget(it);
      continue;
    }
    TNames &names = it->second.Names;
    if (succeeded && !it->second.Spelled) {
      // Whether the added name was there already is not known: a hash too
      // many only costs a reading.
      const std::uint32_t hash = posix::TNameHashes::Of(Cp1252FoldedKey(ProgramName(item.Name)));
      if (item.Added) {
        it->second.Hashes.Add(hash);
        ++MemoNames;
      } else if (it->second.Hashes.Has(hash)) {
        it->second.Hashes.Remove(hash);
        --MemoNames;
      }
    } else if (succeeded) {
      const std::string key = Cp1252FoldedKey(ProgramName(item.Name));
      auto range = names.equal_range(key);
      auto exact = range.first;
      while (exact != range.second && exact->second != item.Name)
        ++exact;
      if (item.Added && exact == range.second) {
        names.emplace(key, item.Name);
        ++MemoNames;
      } else if (!item.Added && exact != range.second) {
        names.erase(exact);
        --MemoNames;
      }
    }
    it->second.Stamp = after[i];
  }
  if (MemoNames > MaxMemoNames)
    EvictBeyondBounds();
}

std::string MapNameIn(const std::string &folder, const struct stat &folderStat,
                      std::string_view programName) {
  const std::string direct = Joined(folder, DiskName(programName));
  const std::string name(programName);
  std::string found;
  {
    std::lock_guard<std::mutex> guard(MemoLock);
    const auto it = Memo.find(std::make_pair(folderStat.st_dev, folderStat.st_ino));
    if (it != Memo.end() && Trusted(it->second.Stamp, StampOf(folderStat), folder)) {
      it->second.LastUse = ++MemoClock;
      const TAnswer answer = FindIn(it->second, Cp1252FoldedKey(name), found);
      if (answer != TAnswer::Unknown)
        return answer == TAnswer::Found ? Joined(folder, found) : direct;
    }
  }
  if (Exists(direct))
    return direct;
  return FindIgnoringCase(folder, folderStat, name, found) ? Joined(folder, found) : direct;
}

TFolderStamp StampOfFolder(const struct stat &folderStat) {
  return StampOf(folderStat);
}

std::string MapPath(std::string_view path) {
  TProbe probe;
  return MapPath(path, probe);
}

std::string MapPath(std::string_view path, TProbe &probe) {
  probe = TProbe();
  // The levels as Windows resolves them, by the same reading as the folder
  // rules: ".." never above a root, trailing dots and blanks dropped.
  const TPathParts split = SplitPath(path);
  std::string base;
  std::vector<std::string> parts;
  std::string server, share;
  if (split.Kind == TPathKind::Absolute && split.HostRoot) {
    base = "/";
  } else if (split.Root.size() == 2) {
    const std::string root = DriveRoot();
    base = root + "/" + split.Root[0];
    // A drive always exists on Windows; make its folder on first use.
    if (!Exists(base)) {
      mkdir(root.c_str(), 0777);
      mkdir(base.c_str(), 0777);
    }
  } else if (split.Kind == TPathKind::Relative) {
    parts.assign(split.Up, "..");
  } else {
    // Network shares, and the device paths that name no folder of ours, below
    // the drive root too: never a folder of the host's own root.
    base = DriveRoot() + "/UNC";
    if (SplitShareRoot(split.Root, server, share)) {
      parts.push_back(server);
      parts.push_back(share);
    }
  }
  if (split.Kind == TPathKind::Invalid) {
    TPathParts levels;
    levels.Kind = TPathKind::Absolute;
    AddPathLevels(levels, path);
    parts.insert(parts.end(), levels.Parts.begin(), levels.Parts.end());
  } else {
    parts.insert(parts.end(), split.Parts.begin(), split.Parts.end());
  }

  // Parts in the program's form; on disk each is its UTF-8 spelling.
  std::string direct = base;
  std::vector<std::string> diskParts;
  diskParts.reserve(parts.size());
  for (const auto &p : parts)
    diskParts.push_back(DiskName(p));
  for (const auto &p : diskParts)
    direct = Joined(direct, p);
  if (direct.empty())
    direct = path.empty() ? std::string() : ".";
  if (parts.empty())
    return direct;
  // Followed through links: what the callers ask about is the file itself. A
  // broken link is found again by the folder search below.
  if (stat(direct.c_str(), &probe.St) == 0) {
    probe.Exists = true;
    return direct;
  }

  // Usually only the last name is missing and its folder is there as given;
  // the folder's stat then serves the memo's check too.
  const std::string &last = parts.back();
  if (last != "." && last != "..") {
    std::string parent = base;
    for (std::size_t i = 0; i + 1 < diskParts.size(); ++i)
      parent = Joined(parent, diskParts[i]);
    struct stat st;
    if (stat(OsFolder(parent), &st) == 0 && S_ISDIR(st.st_mode)) {
      probe.Parent = StampOf(st);
      probe.ParentKnown = true;
      std::string found;
      if (FindIgnoringCase(parent, st, last, found))
        return Joined(parent, found);
      probe.Missing = true;
      return direct;
    }
  }

  // Walk the components; once one is missing the rest are taken as they are.
  std::string mapped = base;
  bool lost = false;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string &p = parts[i];
    std::string candidate = Joined(mapped, diskParts[i]);
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

std::string ProgramName(std::string_view diskName) {
  std::string name;
  if (Utf8ToCp1252(diskName, name, TUnassigned::AsC1Controls))
    return name;
  return std::string(diskName);
}

std::string DiskName(std::string_view programName) {
  return Cp1252ToUtf8(programName, TUnassigned::AsC1Controls);
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

std::uint32_t AttributesFromStat(const struct stat &st, const std::string &name) {
  std::uint32_t a = 0;
  if (S_ISDIR(st.st_mode))
    a |= faDirectory;
  else
    a |= faArchive; // what Windows gives a file that was just written
  if (!S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
    a |= faReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    a |= faHidden;
  return a;
}

bool AttributesOf(const std::string &nativePath, const std::string &name, std::uint32_t &attributes,
                  std::uint64_t *size) {
  struct stat st;
  if (stat(nativePath.c_str(), &st) != 0)
    return FailErrno(errno, nativePath);
  attributes = AttributesFromStat(st, name);
  if (size != nullptr)
    *size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  return true;
}

} // namespace posix
} // namespace platform
