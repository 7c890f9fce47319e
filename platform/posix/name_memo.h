// The POSIX seam's memo of folder names: the entries of the folders it
// searched, so that finding a name regardless of case, or learning that it is
// not there, costs no reading of the whole folder while the folder is as it
// was. Its cost is linear in a folder's size: the folder in use is always
// kept, however large.
#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>

#include "platform/posix/posix_paths.h"

namespace platform::posix {

// The entry of `folder` (a host path) whose name is `name` (program form)
// ignoring case; `st` is the folder's stat when the caller has it. `found`
// is the name on disk.
bool FindIgnoringCase(const std::string &folder, const struct stat &st, const std::string &name,
                      std::string &found);
bool FindIgnoringCase(const std::string &folder, const std::string &name, std::string &found);

// Host path of the entry `programName` in the host folder `folder`, whose
// stat is `folderStat`: the folder's memo answers while it may be trusted.
std::string MapNameIn(const std::string &folder, const struct stat &folderStat,
                      std::string_view programName);
TFolderStamp StampOfFolder(const struct stat &folderStat);

// Keeps the memo exact across a change that the seam makes itself. Made
// right before the system call with the host paths of the entry that goes
// and the one that comes (either may be empty), told the call's result with
// Succeeded(); the memo is brought up to date when it goes out of scope (a
// change never told to have succeeded counts as failed). A change made by
// others before it is noticed (the folder is read again); one made in the
// moment between this and the system call stays unseen until the folder
// changes again.
class TOwnChange {
public:
  // `addedBefore`: the stamp of the added entry's folder, when the caller has
  // just taken it.
  TOwnChange(const std::string &removed, const std::string &added,
             const TFolderStamp *addedBefore = nullptr);
  ~TOwnChange();
  TOwnChange(const TOwnChange &) = delete;
  TOwnChange &operator=(const TOwnChange &) = delete;
  void Succeeded(bool succeeded) { Result = succeeded; }

private:
  void Apply();
  struct TItem {
    bool Added = false;
    bool Known = false;
    std::string Folder, Name;
    TFolderStamp Before;
  };
  TItem Items[2];
  int Count = 0;
  bool Result = false;
};

} // namespace platform::posix
