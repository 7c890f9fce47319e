// Placement of unpacked files: every plain file of the staging folder is copied
// into one of the twenty destination folders, the package's default one or the
// one that the marker file FILEPATH.ID names for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "admin/admin_records.h"
#include "admin/run_result.h"
#include "packages/placement_journal.h"
#include "platform/window.h"

namespace packages {

constexpr std::string_view FilePathIdName = "FILEPATH.ID";
constexpr std::string_view CopyingCaption = "Die Dateien werden kopiert . . .";

// FilePathEntry records of FILEPATH.ID: 257 bytes, no header.
constexpr std::size_t FilePathEntrySize = 257;
constexpr std::size_t FileNameCapacity = 255;
constexpr std::size_t FileNameLengthOffset = 0;
constexpr std::size_t FileNameCharsOffset = 1;
constexpr std::size_t FolderIndexOffset = 256;
static_assert(FileNameCharsOffset + FileNameCapacity == FolderIndexOffset);
static_assert(FolderIndexOffset + 1 == FilePathEntrySize);

// What the dialog does for the placement step.
class TPlacementEvents {
public:
  virtual ~TPlacementEvents() = default;
  // Shows `caption` in the group box and repaints it at once.
  virtual void ShowGroupCaption(std::string_view caption) = 0;
  // Owner window of the "Error=" box.
  virtual platform::THandle Owner() const { return 0; }
  // False for a destination file that must never be replaced; asked for
  // every file of the package before the first one is copied.
  virtual bool MayPlaceAt(std::string_view /*target*/) { return true; }
  // One line for the run log: a file placed, or why placement stopped.
  virtual void Note(std::string_view) {}
};

// The "Error=" box that always comes before -5, with the copy routine's
// number (1 to 5); the answer is admin::RunCopyFailed.
std::int32_t ShowCopyFailure(platform::THandle owner, int copyResult);

// The folder that destination entry `index` (1..20) names, without its
// trailing separator but for a drive root, "G:\\" for a blank entry.
std::string DestinationFolder(const admin::TAdminHeader &header, int index);

// FolderIndex (1..20) of the first FILEPATH.ID record in `stagingFolder` that
// names `fileName` (A-Z compared without case), or 0: no file, no record, or
// an index outside 1..20.
std::uint8_t FindIndivFilePath(std::string_view stagingFolder, std::string_view fileName);

// Copies the staging folder's plain files, the whole package or nothing.
// What can be known in advance (an index, a missing folder, a folder in a
// file's place, a path too long, too little space) is checked for every file
// before the first one moves, and nothing is placed then. Otherwise previous
// versions are renamed aside in their folders and `journal` (Path and record
// fields set by the caller) lists every step before the first one; a journal
// that cannot be written is kept in memory. On admin::RunOk the journal stays
// in the Placing state until the caller commits or rolls back; on a failure
// the files placed are rolled back and the code returned, after the
// "Error=" box for admin::RunCopyFailed. When a file would land where
// MayPlaceAt says no, or its folder holds its name twice in other case,
// nothing is placed (admin::RunFoldersInvalid). FILEPATH.ID is deleted in
// every case.
std::int32_t PlaceStagedFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                              TPlacementEvents &events, TPlacementJournal &journal);

} // namespace packages
