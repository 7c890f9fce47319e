// POSIX listing of a folder by Windows mask and attribute filter, names in
// the program's code page, in the order NTFS would list them.
#include <cerrno>
#include <dirent.h>

#include "platform/files.h"
#include "platform/internal.h"
#include "platform/posix/posix_paths.h"

namespace platform {

bool FindFiles(std::string_view mask, std::uint32_t attributeFilter,
               std::vector<TFindEntry> &entries) {
  entries.clear();
  try {
    std::string folder, pattern;
    detail::SplitMask(mask, folder, pattern);
    std::string native = folder.empty() ? std::string(".") : posix::MapPath(folder);
    if (native.empty())
      native = ".";
    DIR *dir = opendir(native.c_str());
    if (dir == nullptr) {
      // A missing folder is "path not found", as FindFirstFile reports it.
      const int error = errno;
      return posix::Fail(error == ENOENT ? ErrorPathNotFound : posix::ErrorFromErrno(error));
    }
    while (dirent *entry = readdir(dir)) {
      const std::string diskName = entry->d_name;
      if (diskName == "." || diskName == "..")
        continue;
      const std::string name = posix::ProgramName(diskName);
      if (!MatchesMask(name, pattern))
        continue;
      TFindEntry found;
      found.Name = name;
      const std::string full = native.back() == '/' ? native + diskName : native + "/" + diskName;
      if (!posix::AttributesOf(full, diskName, found.Attributes, &found.Size))
        continue; // vanished meanwhile, or a dangling link
      if (detail::PassesFilter(found.Attributes, attributeFilter))
        entries.push_back(std::move(found));
    }
    closedir(dir);
    detail::SortEntries(entries);
    detail::SetError(ErrorSuccess);
    return true;
  } catch (...) {
    entries.clear();
    return posix::Fail(ErrorNotEnoughMemory);
  }
}

} // namespace platform
