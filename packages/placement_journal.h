// The placement journal: what a run needs to put a package back whole when it
// fails half placed, and what the next run needs when this one was killed.
// Its parts (journal_file.h) are each replaced in one step, never written in
// place, so a crash while writing one leaves the previous one standing.
//
// The order that makes a power cut recoverable, which loses whatever was not
// flushed: the journal is durable (TDurable::Now) before the first file of a
// package moves; the placed files (TDurable::Data) are durable, with one
// flush of their folders, before the package record says "applied"; that
// record is flushed before the journal that lists the backups as leftovers
// is written; their removal is flushed before a later journal, which no
// longer lists them, can be; the Cleaning journal is durable before the
// header records the outcome, and the header is flushed before the staging
// and download folders are emptied. Needing no flush: the unpacked files
// (scratch, unpacked again by the next run), the removal of the journal and
// of the staged and downloaded files (the Cleaning journal has the next run
// finish them), and the run log's trim (nothing depends on it). Whatever a cut loses
// before the record is durable, the journal puts back or, where a previous
// version is gone, the still pending record has the package placed again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "packages/journal_file.h"

namespace packages {

// What recovery needs to know to judge the journal found at the start of a
// run: where its parts may be, and the files of the run's own that no part
// may name.
struct TJournalTrust {
  // The administration file (the run's part lies beside it) and its seed.
  std::string AdminPath;
  std::int32_t Seed = 0;
  // The destination folders, each with its separator: the only places a
  // folder part is looked for.
  std::vector<std::string> Folders;
  // Paths that are never a journal's entry: the administration file, the run
  // log, the run's part and its temporary file, the settings' temporary file.
  std::vector<std::string> OwnFiles;
};
// The run's part: false, with the reason, for one that names a record at
// no record's place or files outside their folder.
[[nodiscard]] bool TrustJournal(const TPlacementJournal &journal, std::string &why);
// A folder part as DecodePart read it in its folder: false, with the reason,
// for one that names a file of another folder, one of the run's own files,
// or a leftover that no placement would have made.
[[nodiscard]] bool TrustPart(const TPlacementJournal &part, const TJournalTrust &trust,
                             std::string &why);

enum class TRecovery : std::uint8_t {
  Done,     // nothing was pending, or it has been put back
  Failed,   // a file could not be put back now (journal.Problem); the journal stays
  SetAside, // a part was not obeyed but put aside (journal.Problem says why)
};
// Start of a run: reads the run's part beside trust.AdminPath and the folder
// part of every destination folder, undoes a package that a killed run left
// half placed (its record included) and removes the backups of one it had
// applied. `journal` then carries PackagesTaken of the killed run, and a
// journal in the Cleaning state stays so for the caller to finish. A part
// that cannot be read, is damaged or fails its trust check is put aside
// (under RefusedSuffix, the earlier ones kept) and nothing of it is done.
[[nodiscard]] TRecovery RecoverPlacement(const TJournalTrust &trust, TPlacementJournal &journal);
// The path a part at `path` is put aside under, the `n`th newest (1..RefusedKept).
std::string RefusedPath(std::string_view path, int n);
// Notes the files the clean-up will delete from the two folders, with their
// sizes and times, into journal.Cleaning.
void NoteCleaning(TPlacementJournal &journal, std::string_view staging, std::string_view download);
// Deletes the files journal.Cleaning lists that still have their size and time.
void FinishCleaning(const TPlacementJournal &journal, std::string_view staging,
                    std::string_view download);
// Puts every previous version back that its backup still holds, removes
// every new file that still holds what the run placed and every temporary
// file and, with `restoreRecord`, sets the package record back. What is not
// proven a file of the run (a folder where a new file was to go, a file of
// other content) is left alone. False when something could not
// be undone (journal.Problem says what).
[[nodiscard]] bool RollBackPlacement(TPlacementJournal &journal, bool restoreRecord);
// Makes the renames of the placed files durable, a flush of each of their
// folders (their data was flushed as each was copied). False, with
// journal.Problem, when a folder cannot be flushed.
[[nodiscard]] bool FlushPlacedFolders(TPlacementJournal &journal);
// The package record is applied: the journal says so before the previous
// versions are removed. When the journal can neither be written nor removed
// the package is rolled back, record included, and the answer is false.
[[nodiscard]] bool CommitPlacement(TPlacementJournal &journal);
// End of a run: removes leftovers and the journal. A package that could not
// be rolled back, or leftovers that stay, keep the journal for the next run.
void CloseJournal(TPlacementJournal &journal);

} // namespace packages
