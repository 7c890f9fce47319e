// The placement journal: what a run needs to put a package back whole when it
// fails half placed, and what the next run needs when this one was killed.
// It lives in the data folder and is replaced in one step, never written in
// place, so a crash while writing it leaves the previous journal standing.
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

#include <string>
#include <string_view>
#include <vector>

#include "packages/journal_file.h"

namespace packages {

// What a journal found at the start of a run may name: files in the
// destination folders (each with its separator at the end) with side names
// of the run's own pattern beside them, and the administration file.
struct TJournalTrust {
  std::vector<std::string> Folders;
  std::string AdminPath;
};
// False, with the reason, for a journal that names anything else.
[[nodiscard]] bool TrustJournal(const TPlacementJournal &journal, const TJournalTrust &trust,
                                std::string &why);

enum class TRecovery : std::uint8_t {
  Done,     // nothing was pending, or it has been put back
  Failed,   // a file could not be put back now (journal.Problem); the journal stays
  SetAside, // the journal was not obeyed but put aside (journal.Problem says why)
};
// Start of a run: reads the journal at `path` and undoes a package that a
// killed run left half placed (its record included), then removes what is
// left over. `journal` then carries PackagesTaken of the killed run, and a
// journal in the Cleaning state stays so for the caller to finish. A journal
// that cannot be read, is damaged or names what `trust` does not allow is
// put aside under JournalRefusedName and nothing of it is done.
[[nodiscard]] TRecovery RecoverPlacement(std::string_view path, const TJournalTrust &trust,
                                         TPlacementJournal &journal);
// Puts every previous version back, removes every new and temporary file
// and, with `restoreRecord`, writes the old package record back when the
// record is still the applied one. What is not a file of the run (a folder
// where a new file was to go) is left alone. False when something could not
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
