// The placement journal: what a run needs to put a package back whole when it
// fails half placed, and what the next run needs when this one was killed.
// It lives in the data folder and is replaced in one step, never written in
// place, so a crash while writing it leaves the previous journal standing.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_records.h"

namespace packages {

constexpr std::string_view JournalFileName = "ZRKUPD.JNL";
constexpr std::string_view JournalTempName = "ZRKUPD.JN~";

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
  enum class TState : std::uint8_t { Idle = 0, Placing = 1 };

  // Where the journal is kept; not part of its contents.
  std::string Path;

  TState State = TState::Idle;
  // A package record qualified in the run: its outcome has to be recorded,
  // also when only a later run gets that far.
  bool PackagesTaken = false;
  // The package record being placed, at RecordOffset of AdminPath, stored
  // (scrambled) as it was before and as it is once applied.
  std::string AdminPath;
  std::int64_t RecordOffset = 0;
  std::array<std::uint8_t, admin::PackageRecordSize> OldRecord{}, AppliedRecord{};
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
// False for anything that is not a whole journal with a matching checksum.
[[nodiscard]] bool DecodeJournal(const std::vector<std::uint8_t> &bytes,
                                 TPlacementJournal &journal);
// Writes the journal to a temporary file and renames it over journal.Path.
[[nodiscard]] bool WriteJournal(const TPlacementJournal &journal);

// Start of a run: reads the journal at `path` and undoes a package that a
// killed run left half placed (its record included), then removes what is
// left over. `journal` then carries PackagesTaken of the killed run. False
// when a package could not be put back; the journal then stays for the next
// run and this one must not touch anything.
[[nodiscard]] bool RecoverPlacement(std::string_view path, TPlacementJournal &journal);
// Puts every previous version back, removes every new and temporary file
// and, with `restoreRecord`, writes the old package record back when the
// record is still the applied one. False when something could not be undone.
[[nodiscard]] bool RollBackPlacement(TPlacementJournal &journal, bool restoreRecord);
// The package record is applied: the journal says so before the previous
// versions are removed. When the journal cannot be written the package is
// rolled back, record included, and the answer is false.
[[nodiscard]] bool CommitPlacement(TPlacementJournal &journal);
// End of a run: removes leftovers and the journal. A package that could not
// be rolled back, or leftovers that stay, keep the journal for the next run.
void CloseJournal(TPlacementJournal &journal);

} // namespace packages
