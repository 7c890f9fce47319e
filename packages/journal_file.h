// The placement journal's contents in memory and on disk: its layout,
// encoding and decoding, and the one-step replacement that writes it.
//
// A journal is kept in parts, each where only those who could change what it
// governs can write it: the run's part (state, the package record's undo, the
// clean-up list) beside the administration file, whose record it undoes; a
// folder part in every destination folder that the package changes, naming
// only files of that folder. Nothing a journal names is acted on without
// proof: new files and backups by their size and checksum, side files by the
// random id of the placement that made them.
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

// The run's part, beside the administration file.
constexpr std::string_view JournalFileName = "ZRKUPD.JNL";
constexpr std::string_view JournalTempName = "ZRKUPD.JN~";
// A destination folder's part, in that folder.
constexpr std::string_view JournalPartName = "ZRKUPD.JNP";
constexpr std::string_view JournalPartTempName = "ZRKUPD.JP~";
// Where a part that is not obeyed is put aside, beside it, for the support
// person: the newest under "<name>.REFUSED", earlier ones ".REFUSED.2" and on.
constexpr std::string_view RefusedSuffix = ".REFUSED";
constexpr int RefusedKept = 4;
// One bound for writing and reading, of the whole file: a journal that could
// not be read back is never written, and the package that would need it is
// not placed.
constexpr std::uint32_t MaxJournalSize = 8u << 20;
// Magic, body length and CRC-32 of the body, then the body.
constexpr std::size_t JournalHeaderSize = 12;

// A path of the journal: a folder part (up to and including the last
// separator) from TPlacementJournal::Folders and a name from its Names. A
// package of many files lands in a few folders, so this costs a dozen bytes
// and the name per path instead of a string of its own.
struct TJournalPath {
  std::uint32_t Folder = 0;
  std::uint32_t At = 0;
  std::uint32_t Length = 0;
};

// What a file held when the run knew it: its size and CRC-32.
struct TProof {
  std::uint64_t Size = 0;
  std::uint32_t Crc = 0;
  bool operator==(const TProof &other) const { return Size == other.Size && Crc == other.Crc; }
};

// How a placed file's temporary and backup names are kept beside it, both
// carrying the placement's id: "~zrk<id>_<n>.tmp" and "~zrk<id>_<n>.bak"
// (Long) or "~<id><n>" and "~<id><n>b" where a long path leaves no room
// (Short); <id> is eight upper-case hex digits.
enum class TSideNames : std::uint8_t { Long, Short };

// One destination file of the package being placed. The previous version
// (when there was one) is renamed to its backup name in the same folder; the
// new one is copied through its temporary name and renamed to Destination.
struct TPlacedFile {
  TJournalPath Destination;
  std::uint32_t Id = 0;
  std::uint32_t Number = 0;
  TSideNames Sides = TSideNames::Long;
  bool Existed = false;
  TProof New; // what the run places
  TProof Old; // what it replaces, kept as the backup
};

// A backup whose package is applied: removed once it still holds Proof.
struct TLeftover {
  TJournalPath Path;
  TProof Proof;
};

// A file the clean-up of the staging or download folder deletes, and the
// size and time it must still have.
struct TCleanFile {
  enum class TFolder : std::uint8_t { Staging = 0, Download = 1 };
  TFolder Folder = TFolder::Staging;
  std::string Name;
  std::uint64_t Size = 0;
  std::uint32_t DosTime = 0;
};

// The undo of RewritePackage: the record is found by its package's file name
// at a record's place; Before is its stored (scrambled) bytes as read.
struct TRecordUndo {
  std::string PackageName; // empty: there is nothing to undo
  std::int64_t Offset = 0;
  std::array<std::uint8_t, admin::PackageRecordSize> Before{};
};

struct TPlacementJournal {
  // Cleaning: the run's outcome is being written and the staging and
  // download folders emptied; a run killed then has them emptied next start.
  enum class TState : std::uint8_t { Idle = 0, Placing = 1, Cleaning = 2 };

  // Where the run's part is kept; not part of its contents.
  std::string Path;
  // The journal cannot be written: the undo of the package is held here
  // only. Not part of its contents.
  bool InMemory = false;
  // Why the last rollback or recovery could not finish: the file and the
  // OS error, and what to do about it. Not part of its contents.
  std::string Problem;
  // What the last rollback did, for the run log. Not part of its contents.
  struct TUndone {
    bool Ran = false;
    std::size_t PutBack = 0, Removed = 0;
    bool RecordRestored = false;
  } Undone;
  // Folders (each with its separator) that hold a part of this journal on
  // the disk. Not part of its contents.
  std::vector<std::string> PartFolders;
  // The administration file whose record Record undoes, and its seed. Not
  // part of its contents: always the one the settings name.
  std::string AdminPath;
  std::int32_t Seed = 0;

  TState State = TState::Idle;
  // A package record qualified in the run: its outcome has to be recorded,
  // also when only a later run gets that far.
  bool PackagesTaken = false;
  // The random id of the latest placement; a part's files of this id are
  // applied once State has left Placing.
  std::uint32_t Id = 0;
  TRecordUndo Record;
  // In blocks, not one array: it grows file by file while the package is
  // planned, and an array would be copied whole each time it doubles.
  std::deque<TPlacedFile> Files;
  std::vector<TLeftover> Leftovers;
  // The folder parts and names that Files and Leftovers refer to.
  std::vector<std::string> Folders;
  std::string Names;
  std::vector<TCleanFile> Cleaning;
  // Cleaning: the CRC-32 of the administration header as the run wrote it,
  // so that a header the host has written since is not taken for it.
  std::uint32_t HeaderCrc = 0;

  TJournalPath AddPath(std::string_view path);
  void AddFile(std::string_view destination, std::uint32_t id, std::uint32_t number,
               TSideNames sides, bool existed, TProof placed = {}, TProof replaced = {});
  std::string PathOf(const TJournalPath &path) const;
  std::string_view NameOf(const TJournalPath &path) const;
  std::string TempOf(const TPlacedFile &file) const;
  std::string BackupOf(const TPlacedFile &file) const;
  // Forgets Files and keeps only the folders and names of Leftovers.
  void ClearFiles();
};

// The temporary (or with `backup` the backup) name numbered `number` of the
// placement `id`.
std::string SideName(std::uint32_t id, std::uint32_t number, TSideNames sides, bool backup);
// True for a backup name that some placement makes.
bool IsBackupSideName(std::string_view name);
// A fresh random placement id.
std::uint32_t NewPlacementId();

// Path of the run's part beside the administration file `adminPath`.
std::string JournalPathBeside(std::string_view adminPath);
// The part's path in `folder` (with or without its separator).
std::string JournalPartIn(std::string_view folder);
// Notes the package record (plain, as just read) that sits at `offset` of the
// administration file, as it was before RewritePackage.
void NoteRecord(TPlacementJournal &journal, std::int64_t offset,
                const admin::TPackageRecord &record, std::int32_t seed);

// The run's part, and the part of folder `folder` (an index into Folders).
std::vector<std::uint8_t> EncodeJournal(const TPlacementJournal &journal);
std::vector<std::uint8_t> EncodePart(const TPlacementJournal &journal, std::uint32_t folder);
// Bytes of the largest file the journal takes on disk, of either kind.
std::uint64_t JournalSize(const TPlacementJournal &journal);
// False for anything that is not a whole journal with a matching checksum.
[[nodiscard]] bool DecodeJournal(const std::vector<std::uint8_t> &bytes,
                                 TPlacementJournal &journal);
// The files and leftovers of a part found in `folder` (with its separator),
// as a journal of their own; false, with `part` unchanged, for a damaged one.
[[nodiscard]] bool DecodePart(const std::vector<std::uint8_t> &bytes, std::string_view folder,
                              TPlacementJournal &part);
// Writes the run's part, then the part of every folder with files or
// leftovers, each to a temporary file renamed over it; removes the parts
// that are no longer needed. True at once for one held in memory.
[[nodiscard]] bool WriteJournal(TPlacementJournal &journal);
// Removes every part of the journal from the disk; false when one stays.
bool RemoveJournal(TPlacementJournal &journal);

// Shared with the replay.

// True when something of that name exists (a file or a folder).
bool PathExists(std::string_view path);
bool IsFolder(std::string_view path);
// One retry: a virus scanner or an indexer may hold a file for a moment.
template <typename TStep> bool Twice(TStep step) {
  return step() || step();
}
// Removes a file of ours, read-only or not; true when it is gone. A folder
// of that name was never one of ours: it stays, and is no failure.
[[nodiscard]] bool RemoveOwnFile(std::string_view path);
// The size and CRC-32 of the file at `path`; false when it cannot be read.
[[nodiscard]] bool ProofOf(std::string_view path, TProof &proof);
// Whether `path` is a file that holds exactly `proof`; Unreadable where it
// is there but cannot be read now (held, or a failing disk).
enum class TMatch : std::uint8_t { Absent, Holds, Differs, Unreadable };
[[nodiscard]] TMatch Match(std::string_view path, const TProof &proof);
[[nodiscard]] inline bool Holds(std::string_view path, const TProof &proof) {
  return Match(path, proof) == TMatch::Holds;
}
// `name` in the folder of `path`.
std::string Beside(std::string_view path, std::string_view name);

} // namespace packages
