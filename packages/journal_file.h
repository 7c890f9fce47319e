// The placement journal's contents in memory and on disk: its layout,
// encoding and decoding, and the one-step replacement that writes it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_file.h"
#include "admin/admin_records.h"

namespace packages {

constexpr std::string_view JournalFileName = "ZRKUPD.JNL";
constexpr std::string_view JournalTempName = "ZRKUPD.JN~";
// Where a journal that is not obeyed is put aside, for the support person.
constexpr std::string_view JournalRefusedName = "ZRKUPD.JNL.REFUSED";
// One bound for writing and reading: a journal that could not be read back
// is never written, and the package that would need it is not placed.
constexpr std::uint32_t MaxJournalSize = 32u << 20;

// A path of the journal: a folder part (up to and including the last
// separator) from TPlacementJournal::Folders and a name from its Names. A
// package of many files lands in a few folders, so this costs a dozen bytes
// and the name per path instead of a string of its own.
struct TJournalPath {
  std::uint32_t Folder = 0;
  std::uint32_t At = 0;
  std::uint32_t Length = 0;
};

// How a placed file's temporary and backup names are kept: numbered names
// beside the destination, "~zrk<n>.tmp" and "~zrk<n>.bak" (Long) or "~<n>" and
// "~<n>b" where a long path leaves no room (Short), else spelled out (Spelled,
// from a journal that named them otherwise).
enum class TSideNames : std::uint8_t { Long, Short, Spelled };

// One destination file of the package being placed. The previous version
// (when there was one) is renamed to its backup name in the same folder; the
// new one is copied through its temporary name and renamed to Destination.
// Twenty bytes and the name: a package may have thousands of files.
struct TPlacedFile {
  TJournalPath Destination;
  // The number of both names, or with Spelled where they are in Spelled.
  std::uint32_t Number = 0;
  TSideNames Sides = TSideNames::Long;
  bool Existed = false;
};

struct TPlacementJournal {
  // Cleaning: the run's outcome is being written and the staging and
  // download folders emptied; a run killed then has them emptied next start.
  enum class TState : std::uint8_t { Idle = 0, Placing = 1, Cleaning = 2 };

  // Where the journal is kept; not part of its contents.
  std::string Path;
  // The journal cannot be written in the data folder: the undo of the
  // package is held here only. Not part of its contents.
  bool InMemory = false;
  // Why the last rollback or recovery could not finish: the file and the
  // OS error. Not part of its contents.
  std::string Problem;
  // What the last rollback did, for the run log. Not part of its contents.
  struct TUndone {
    bool Ran = false;
    std::size_t PutBack = 0, Removed = 0;
    bool RecordRestored = false;
  } Undone;

  TState State = TState::Idle;
  // A package record qualified in the run: its outcome has to be recorded,
  // also when only a later run gets that far.
  bool PackagesTaken = false;
  // The package record being placed, as it was before and once applied.
  admin::TRecordUndo Record;
  // In blocks, not one array: it grows file by file while the package is
  // planned, and an array would be copied whole each time it doubles.
  std::deque<TPlacedFile> Files;
  // Backups and temporary files that could not be removed yet.
  std::vector<TJournalPath> Leftovers;
  // The folder parts and names that Files and Leftovers refer to, and the
  // temporary and backup paths of files whose names are Spelled.
  std::vector<std::string> Folders;
  std::string Names;
  std::vector<TJournalPath> Spelled;
  // Cleaning: the CRC-32 of the administration header as the run wrote it,
  // so that a header the host has written since is not taken for it.
  std::uint32_t HeaderCrc = 0;

  TJournalPath AddPath(std::string_view path);
  // Numbered names beside `destination`.
  void AddFile(std::string_view destination, std::uint32_t number, TSideNames sides, bool existed);
  // Any paths; numbered ones are kept as numbers.
  void AddFile(std::string_view destination, std::string_view temp, std::string_view backup,
               bool existed);
  std::string PathOf(const TJournalPath &path) const;
  std::string_view NameOf(const TJournalPath &path) const;
  std::string TempOf(const TPlacedFile &file) const;
  std::string BackupOf(const TPlacedFile &file) const;
  // Forgets Files and keeps only the folders and names of Leftovers.
  void ClearFiles();
};

// The temporary (or with `backup` the backup) name numbered `number`.
std::string SideName(std::uint32_t number, TSideNames sides, bool backup);

// Path of the journal in `dataFolder` (the current folder when blank).
std::string JournalPathIn(std::string_view dataFolder);
// Notes the package record (plain, as just read) that sits at `offset` of the
// administration file `adminPath`, before and after RewritePackage.
void NoteRecord(TPlacementJournal &journal, std::string_view adminPath, std::int64_t offset,
                const admin::TPackageRecord &record, std::int32_t seed);

std::vector<std::uint8_t> EncodeJournal(const TPlacementJournal &journal);
// Bytes the journal takes on disk.
std::uint64_t JournalSize(const TPlacementJournal &journal);
// False for anything that is not a whole journal with a matching checksum.
[[nodiscard]] bool DecodeJournal(const std::vector<std::uint8_t> &bytes,
                                 TPlacementJournal &journal);
// Writes the journal to a temporary file and renames it over journal.Path;
// true at once for one held in memory.
[[nodiscard]] bool WriteJournal(const TPlacementJournal &journal);

// Shared with the replay.

// True when something of that name exists (a file or a folder).
bool PathExists(std::string_view path);
// One retry: a virus scanner or an indexer may hold a file for a moment.
template <typename TStep> bool Twice(TStep step) {
  return step() || step();
}
// Removes a file of ours, read-only or not; true when it is gone. A folder
// of that name was never one of ours: it stays, and is no failure.
[[nodiscard]] bool RemoveOwnFile(std::string_view path);
// `name` in the journal's folder.
std::string BesideJournal(std::string_view journalPath, std::string_view name);
// Where a journal is written before it replaces the one at `journalPath`.
std::string JournalTempPath(std::string_view journalPath);

} // namespace packages
