// The seam's memo of folder names: a name looked up regardless of case
// costs no reading of the whole folder while the folder is unchanged.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

#include "platform/codepage.h"
#include "platform/path_parts.h"
#include "platform/posix/name_hashes.h"
#include "platform/posix/name_memo.h"
#include "platform/posix/system_calls.h"

namespace platform::posix {

namespace {
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

using TStamp = TFolderStamp;

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
  TNameHashes Hashes;
  TNames Names;
  std::uint64_t LastUse = 0;
  std::size_t Count() const { return Spelled ? Names.size() : Hashes.Size(); }
};

constexpr std::size_t MaxMemoFolders = 64;
// Bounds the names kept for folders other than the one in use to about 2 MiB
// with their spellings (hashes alone take 6 to 12 bytes a name). The folder in
// use is always kept, however large: reading it again for every new name
// would make a folder of n files cost O(n²).
constexpr std::size_t MaxMemoNames = 32768;

// Keyed by the folder's identity, so that one folder reached by two paths has
// one entry and a folder replaced under its path is not taken for the old.
std::mutex MemoLock;
std::map<std::pair<dev_t, ino_t>, TFolderMemo> Memo;
std::size_t MemoNames = 0;
std::uint64_t MemoClock = 0;

// Per device, under MemoLock: true where a change after a look at a folder's
// times always gives it new ones.
std::map<dev_t, bool> FineTimes;

bool DeviceGivesFineTimes(dev_t device, const std::string &folder) {
  const auto known = FineTimes.find(device);
  if (known != FineTimes.end())
    return known->second;
  const bool fine = posix::FineTimesOnDemand(OsFolder(folder));
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
  return kept == stamp && (DeviceGivesFineTimes(stamp.Device, folder) || Settled(stamp));
}

void Forget(std::map<std::pair<dev_t, ino_t>, TFolderMemo>::iterator it) {
  MemoNames -= it->second.Count();
  Memo.erase(it);
}

// Forgets the folders used longest ago until the memo is within its bounds
// again, or only the folder `kept` (the one in use) is left.
void EvictBeyondBounds(const TFolderMemo *kept) {
  while (Memo.size() > MaxMemoFolders || MemoNames > MaxMemoNames) {
    auto oldest = Memo.end();
    for (auto it = Memo.begin(); it != Memo.end(); ++it)
      if (&it->second != kept &&
          (oldest == Memo.end() || it->second.LastUse < oldest->second.LastUse))
        oldest = it;
    if (oldest == Memo.end())
      return;
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
    std::string folded = Cp1252FoldedKey(ProgramName(name));
    if (!matched && folded == key) {
      matched = true;
      found = name;
    }
    if (spelled)
      memo.Names.emplace(std::move(folded), name);
    else
      memo.Hashes.Add(TNameHashes::Of(folded));
  }
  closedir(dir);
  return true;
}

enum class TAnswer { Missing, Found, Unknown };

// What the memo knows of `key`; Unknown when only its hash is there.
TAnswer FindIn(const TFolderMemo &memo, const std::string &key, std::string &found) {
  if (!memo.Spelled)
    return memo.Hashes.Has(TNameHashes::Of(key)) ? TAnswer::Unknown : TAnswer::Missing;
  const auto match = memo.Names.find(key);
  if (match == memo.Names.end())
    return TAnswer::Missing;
  found = match->second;
  return TAnswer::Found;
}

} // namespace

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
  if (stat(OsFolder(folder), &after) == 0 && StampOf(after) == stamp) {
    TFolderMemo &memo = Memo[id];
    memo = std::move(read);
    memo.Stamp = stamp;
    memo.LastUse = ++MemoClock;
    MemoNames += memo.Count();
    EvictBeyondBounds(&memo);
  }
  return result;
}

bool FindIgnoringCase(const std::string &folder, const std::string &name, std::string &found) {
  struct stat st;
  if (stat(OsFolder(folder), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return FindIgnoringCase(folder, st, name, found);
}

namespace {
// The folder without its closing "/", except "/" itself.
std::string ParentOf(const std::string &nativePath) {
  const std::size_t nameStart = NameStart(nativePath, "/");
  return nativePath.substr(0, nameStart > 1 ? nameStart - 1 : nameStart);
}

} // namespace

TOwnChange::TOwnChange(const std::string &removed, const std::string &added,
                       const TFolderStamp *addedBefore) {
  const std::string *paths[2] = {&removed, &added};
  for (int i = 0; i < 2; ++i) {
    if (paths[i]->empty())
      continue;
    TItem &item = Items[Count++];
    item.Added = i == 1;
    item.Folder = ParentOf(*paths[i]);
    item.Name = NamePart(*paths[i], "/");
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

TOwnChange::~TOwnChange() {
  if (Count == 0)
    return;
  try {
    Apply();
  } catch (...) {
    // Out of memory while bringing names up to date: a memo that is not sure
    // of itself is forgotten, and every folder is read again when asked.
    std::lock_guard<std::mutex> guard(MemoLock);
    Memo.clear();
    MemoNames = 0;
  }
}

void TOwnChange::Apply() {
  const bool succeeded = Result;
  std::lock_guard<std::mutex> guard(MemoLock);
  TStamp after[2];
  bool afterKnown[2] = {false, false};
  // The folder changed last is in use: it stays, however large.
  const TFolderMemo *kept = nullptr;
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
      // Whether the added name was there already is not known: a count too
      // high only costs a reading.
      const std::uint32_t hash = TNameHashes::Of(Cp1252FoldedKey(ProgramName(item.Name)));
      TNameHashes &hashes = it->second.Hashes;
      MemoNames -= hashes.Size();
      if (item.Added)
        hashes.Add(hash);
      else
        hashes.Remove(hash);
      MemoNames += hashes.Size();
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
    kept = &it->second;
  }
  if (MemoNames > MaxMemoNames)
    EvictBeyondBounds(kept);
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

} // namespace platform::posix
