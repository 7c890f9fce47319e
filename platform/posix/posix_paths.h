// POSIX side of the platform seam: how Windows-style paths map onto the host
// file system (the folder-name memo is name_memo.h, the errno mapping
// errno_map.h).
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

// Helpers of the path mapping: whether an entry exists (links not followed),
// a folder as the system takes it ("" is the current one), and a host path
// joined from a folder and a name.
bool Exists(const std::string &path);
const char *OsFolder(const std::string &folder);
std::string Joined(const std::string &base, const std::string &name);

// True when the file exists and its owner may not write it (Windows read-only).
bool IsReadOnly(const std::string &nativePath);
// Windows attributes of a stat and the entry's bare name.
std::uint32_t AttributesFromStat(const struct stat &st, const std::string &name);
// Stat-based Windows attributes of a host path and its bare name.
bool AttributesOf(const std::string &nativePath, const std::string &name, std::uint32_t &attributes,
                  std::uint64_t *size = nullptr);

} // namespace platform::posix
