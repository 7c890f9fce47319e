// POSIX listing of a folder by Windows mask and attribute filter, names in
// the program's code page, in the order NTFS would list them.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/internal.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/posix_paths.h"

namespace platform {

namespace {

class TDir {
public:
  explicit TDir(const std::string &path) : Dir(opendir(path.c_str())) {}
  ~TDir() {
    if (Dir != nullptr)
      closedir(Dir);
  }
  TDir(const TDir &) = delete;
  TDir &operator=(const TDir &) = delete;
  DIR *Dir;
};

// The matching names of a folder, to be put in order: one block of text,
// each name in its program form and, only where the name on disk is not its
// plain UTF-8 spelling, that name too ("name\0disk\0" or "name\0\0"), and
// where each starts. A dozen bytes and the name per entry; a listing of
// TFindEntry records would take 48 and more.
struct TNames {
  std::string Text;
  std::vector<std::uint32_t> Starts;

  std::string_view Name(std::uint32_t start) const { return Text.c_str() + start; }
  std::string Disk(std::uint32_t start) const {
    const std::string_view name = Name(start);
    const char *disk = Text.c_str() + start + name.size() + 1;
    return *disk != '\0' ? std::string(disk) : posix::DiskName(name);
  }
};

// Reads the matching names; twice over the folder, the first time to learn
// how much room they need, so that the block is not grown by doubling.
bool ReadMatching(DIR *dir, const std::string &pattern, TNames &names) {
  for (int pass = 0; pass < 2; ++pass) {
    std::size_t count = 0, bytes = 0;
    for (;;) {
      errno = 0;
      const dirent *entry = readdir(dir);
      if (entry == nullptr)
        break;
      const std::string_view diskName = entry->d_name;
      if (diskName == "." || diskName == "..")
        continue;
      const std::string name = posix::ProgramName(diskName);
      if (!MatchesMask(name, pattern))
        continue;
      const bool plain = posix::DiskName(name) == diskName;
      if (pass == 0) {
        ++count;
        bytes += name.size() + 2 + (plain ? 0 : diskName.size());
        continue;
      }
      names.Starts.push_back(static_cast<std::uint32_t>(names.Text.size()));
      names.Text += name;
      names.Text += '\0';
      if (!plain)
        names.Text += diskName;
      names.Text += '\0';
    }
    if (errno != 0)
      return false;
    if (pass == 0) {
      names.Starts.reserve(count);
      names.Text.reserve(bytes);
      rewinddir(dir);
    }
  }
  return true;
}

} // namespace

bool WalkFiles(std::string_view mask, std::uint32_t attributeFilter,
               const std::function<bool(const TFindEntry &)> &visit) {
  TNames names;
  std::string native;
  try {
    std::string folder, pattern;
    detail::SplitMask(mask, folder, pattern);
    native = folder.empty() ? std::string(".") : posix::MapPath(folder);
    if (native.empty())
      native = ".";
    if (native.back() != '/')
      native += '/';
    TDir dir(native);
    if (dir.Dir == nullptr) {
      // A missing folder is "path not found", as FindFirstFile reports it.
      const int error = errno;
      return posix::Fail(error == ENOENT ? ErrorPathNotFound : posix::ErrorFromErrno(error));
    }
    if (!ReadMatching(dir.Dir, pattern, names))
      return posix::FailErrno(errno, native);
    std::stable_sort(names.Starts.begin(), names.Starts.end(),
                     [&names](std::uint32_t a, std::uint32_t b) {
                       return detail::ListedBefore(names.Name(a), names.Name(b));
                     });
  } catch (...) {
    return posix::Fail(ErrorNotEnoughMemory);
  }
  TFindEntry found;
  std::string full = native;
  for (const std::uint32_t start : names.Starts) {
    try {
      const std::string disk = names.Disk(start);
      full.resize(native.size());
      full += disk;
      if (!posix::AttributesOf(full, disk, found.Attributes, &found.Size))
        continue; // vanished meanwhile, or a dangling link
      if (!detail::PassesFilter(found.Attributes, attributeFilter))
        continue;
      found.Name = names.Name(start);
    } catch (...) {
      return posix::Fail(ErrorNotEnoughMemory);
    }
    if (!visit(found))
      break;
  }
  detail::SetError(ErrorSuccess);
  return true;
}

} // namespace platform
