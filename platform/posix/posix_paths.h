// POSIX side of the platform seam: how Windows-style paths map onto the host
// file system and how errno values become Windows error numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace platform::posix {

// Names inside the program are Windows-1252, on disk UTF-8. A name on disk
// that is not UTF-8, or holds a character that the code page lacks, passes
// through byte for byte (and is found again by that spelling).
std::string ProgramName(std::string_view diskName);
std::string DiskName(std::string_view programName);

// Host path of a Windows-style path: its levels as SplitPath reads them (".."
// never above a root, trailing dots and blanks dropped), drive letters and
// network shares ("\\server\share" as UNC/server/share) below DriveRoot(),
// and each name found regardless of case.
std::string MapPath(std::string_view path);

// What the mapping learnt on its way, so that callers need not ask again.
struct TProbe;
std::string MapPath(std::string_view path, TProbe &probe);

// A folder at one moment: its identity and its times.
struct TFolderStamp {
  dev_t Device = 0;
  ino_t Inode = 0;
  timespec Changed{};
  timespec Modified{};
  bool operator==(const TFolderStamp &other) const {
    return Device == other.Device && Inode == other.Inode &&
           Changed.tv_sec == other.Changed.tv_sec && Changed.tv_nsec == other.Changed.tv_nsec &&
           Modified.tv_sec == other.Modified.tv_sec && Modified.tv_nsec == other.Modified.tv_nsec;
  }
  bool operator!=(const TFolderStamp &other) const { return !(*this == other); }
};

struct TProbe {
  // The path exists; St is its stat (through links).
  bool Exists = false;
  // Nothing of that name, in any case, is in its folder (which exists).
  bool Missing = false;
  struct stat St {};
  // The folder's stamp, when the mapping looked at it.
  bool ParentKnown = false;
  TFolderStamp Parent;
};

// Host path of the entry `programName` in the host folder `folder`, whose
// stat is `folderStat`: the folder's memo answers while it may be trusted.
std::string MapNameIn(const std::string &folder, const struct stat &folderStat,
                      std::string_view programName);
TFolderStamp StampOfFolder(const struct stat &folderStat);

// Keeps the seam's memo of folder names exact across a change that the seam
// makes itself. Made right before the system call with the host paths of the
// entry that goes and the one that comes (either may be empty); Done() right
// after it, with its success. A change made by others before it is noticed
// (the folder is read again); one made in the moment between this and the
// system call stays unseen until the folder changes again.
class TOwnChange {
public:
  // `addedBefore`: the stamp of the added entry's folder, when the caller has
  // just taken it.
  TOwnChange(const std::string &removed, const std::string &added,
             const TFolderStamp *addedBefore = nullptr);
  void Done(bool succeeded);

private:
  struct TItem {
    bool Added = false;
    bool Known = false;
    std::string Folder, Name;
    TFolderStamp Before;
  };
  TItem Items[2];
  int Count = 0;
};

// Windows error number for an errno value; `path` tells "file" from "path"
// not found.
int ErrorFromErrno(int error, const std::string &nativePath = std::string());
// Records the Windows error for errno and returns false.
bool FailErrno(int error, const std::string &nativePath = std::string());
// Records a Windows error and returns false.
bool Fail(int windowsError);
// True when the file exists and its owner may not write it (Windows read-only).
bool IsReadOnly(const std::string &nativePath);
// Windows attributes of a stat and the entry's bare name.
std::uint32_t AttributesFromStat(const struct stat &st, const std::string &name);
// Stat-based Windows attributes of a host path and its bare name.
bool AttributesOf(const std::string &nativePath, const std::string &name, std::uint32_t &attributes,
                  std::uint64_t *size = nullptr);

} // namespace platform::posix
