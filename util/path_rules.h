// Rules for the folders and names that an update takes from the shared files:
// which folders a run may empty and unpack into, which names may stand for a
// package, and when two paths name the same file as Windows finds it.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace util {

constexpr int UpdateDestFolderCount = 20;

// A file that the host shares with the program, and what a reason calls it.
struct TSharedFile {
  std::string What; // "the settings file"
  std::string Path; // a relative path counts from the current folder
};

// The folders of an update as the administration header names them, and the
// files whose folders a run must never empty (settings and administration
// file).
struct TUpdateFolders {
  // Destination folders 1 to 20; element 0 is not used, blank entries are.
  std::array<std::string, UpdateDestFolderCount + 1> DestFolders;
  std::string StagingFolder;
  std::string DownloadFolder;
  std::vector<TSharedFile> SharedFiles;
};

// True when a run may use the folders. The staging and the download folder,
// which a run empties, are absolute Windows paths (a drive letter or a
// network share; in the POSIX build also a host path from "/") without a
// character that Windows refuses in paths, no drive or share root, and differ
// from each other, from every non-blank destination (a relative one counts
// from the current folder) and from every folder that holds a shared file.
// Destinations are otherwise used as named. Folders compare as Windows finds
// them: without regard to case, "\" or "/", repeated separators, "." and "..",
// trailing dots and blanks, and, where both exist, by identity on disk (short
// names, links). Otherwise false, with the first rule broken as one English
// sentence in `reason`. Looks, never touches.
[[nodiscard]] bool CheckUpdateFolders(const TUpdateFolders &folders, std::string &reason);

// True for a name that can only stand for a file in the folder it is joined
// to: not empty, no separator, drive, wildcard or other character that
// Windows refuses in names, not made of dots and blanks only, and no device
// name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, ...) with or without extension.
[[nodiscard]] bool IsPlainFileName(std::string_view name);

// True when `a` and `b` name the same file or folder: the same path as
// Windows resolves it (relative ones from the current folder), or, when both
// exist, the same object on disk.
[[nodiscard]] bool SamePath(std::string_view a, std::string_view b);

// SamePath without the look at the disk: the same path as Windows resolves it.
// All that SamePath can find for a name that does not exist.
[[nodiscard]] bool SameSpelledPath(std::string_view a, std::string_view b);

} // namespace util
