// Mapping of Windows-style paths onto the host file system: drive letters
// below a drive root folder, both separators, and names found regardless of
// case as Windows finds them (through the folder-name memo, name_memo.cpp).
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/name_memo.h"
#include "platform/posix/posix_paths.h"

namespace platform {

namespace {
std::mutex RootLock;
bool RootSet = false;
std::string Root;

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

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

const char *OsFolder(const std::string &folder) {
  return folder.empty() ? "." : folder.c_str();
}

std::string Joined(const std::string &base, const std::string &name) {
  if (base.empty())
    return name;
  if (base.back() == '/')
    return base + name;
  return base + "/" + name;
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
      probe.Parent = StampOfFolder(st);
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
