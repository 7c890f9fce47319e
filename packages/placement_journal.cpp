// Replaying the placement journal. Every step of the
// replay can be repeated after a further crash: it looks at what is on disk
// (is the backup still there?) and not at how far an earlier attempt came.
#include "packages/placement_journal.h"

#include <algorithm>
#include <utility>

#include "admin/admin_file.h"
#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "util/path_rules.h"

namespace packages {

namespace {

// The first thing that could not be undone, for the run log.
void NoteProblem(TPlacementJournal &journal, std::string_view what, std::string_view path) {
  if (journal.Problem.empty())
    journal.Problem = std::string(what) + " " + std::string(path) +
                      " failed: " + platform::ErrorText(platform::LastError());
}

bool ReadAll(platform::TFile &file, std::uint8_t *buffer, std::uint32_t count) {
  std::uint32_t got = 0;
  return file.Read(buffer, count, got) && got == count;
}

void RemoveLeftovers(TPlacementJournal &journal) {
  std::vector<TJournalPath> stay;
  for (const TJournalPath &path : journal.Leftovers)
    if (!RemoveOwnFile(journal.PathOf(path))) {
      NoteProblem(journal, "Removing", journal.PathOf(path));
      stay.push_back(path);
    }
  journal.Leftovers = std::move(stay);
  if (journal.State == TPlacementJournal::TState::Idle)
    journal.ClearFiles();
}

// A name of the run's own pattern for temporary and backup files:
// "~zrk<n>.tmp", "~zrk<n>.bak", "~<n>" or "~<n>b".
bool IsSideName(std::string_view name) {
  for (const std::string_view prefix : {std::string_view("~zrk"), std::string_view("~")}) {
    if (name.substr(0, prefix.size()) != prefix)
      continue;
    const std::string_view rest = name.substr(prefix.size());
    const std::size_t digits = rest.find_first_not_of("0123456789");
    if (digits == 0 || rest.empty())
      continue;
    const std::string_view tail = digits == std::string_view::npos ? "" : rest.substr(digits);
    if (prefix.size() > 1 ? tail == ".tmp" || tail == ".bak" : tail.empty() || tail == "b")
      return true;
  }
  return false;
}

bool InTrustedFolder(const TJournalTrust &trust, std::string_view folder) {
  const std::string key = platform::Cp1252FoldedKey(folder);
  return std::any_of(trust.Folders.begin(), trust.Folders.end(),
                     [&key](const std::string &f) { return platform::Cp1252FoldedKey(f) == key; });
}

// Moves an unusable journal out of the way, whatever it is (a folder, a
// FIFO), so that the run can write its own; what cannot be moved is logged.
TRecovery SetAside(std::string_view path, TPlacementJournal &journal, std::string why) {
  const std::string cause = why;
  journal = TPlacementJournal();
  journal.Path = std::string(path);
  const std::string aside = BesideJournal(path, JournalRefusedName);
  (void)RemoveOwnFile(aside); // an older one; the move below says what stays in its way
  journal.Problem = "The journal " + std::string(path) + " is not obeyed (" + cause + ")";
  if (platform::MoveFileReplacing(path, aside))
    journal.Problem += "; it was put aside as " + aside;
  else
    journal.Problem += "; putting it aside failed: " + platform::ErrorText(platform::LastError());
  return TRecovery::SetAside;
}

} // namespace

bool TrustJournal(const TPlacementJournal &journal, const TJournalTrust &trust, std::string &why) {
  const std::string &adminPath = journal.Record.AdminPath;
  if (!adminPath.empty() &&
      platform::Cp1252FoldedKey(adminPath) != platform::Cp1252FoldedKey(trust.AdminPath)) {
    why = "it names the administration file " + adminPath;
    return false;
  }
  for (const TPlacedFile &file : journal.Files) {
    const std::string_view name = journal.NameOf(file.Destination);
    if (!InTrustedFolder(trust, journal.Folders[file.Destination.Folder]) ||
        !util::IsPlainFileName(name) || file.Sides == TSideNames::Spelled) {
      why = "it names " + journal.PathOf(file.Destination) +
            (file.Sides == TSideNames::Spelled ? " with side files of another pattern"
                                               : ", which is in no destination folder");
      return false;
    }
  }
  for (const TJournalPath &path : journal.Leftovers) {
    if (!InTrustedFolder(trust, journal.Folders[path.Folder]) ||
        !IsSideName(journal.NameOf(path))) {
      why = "it names " + journal.PathOf(path) + " as a file of its own";
      return false;
    }
  }
  return true;
}

TRecovery RecoverPlacement(std::string_view path, const TJournalTrust &trust,
                           TPlacementJournal &journal) {
  journal = TPlacementJournal();
  journal.Path = std::string(path);
  (void)RemoveOwnFile(JournalTempPath(path)); // half written; the next write tries and tells
  if (!PathExists(path))
    return TRecovery::Done;

  std::vector<std::uint8_t> bytes;
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenRead(path)) {
    // Held by another program: it may be free next time. Anything else
    // (a folder, a FIFO) is no journal of ours.
    if (platform::LastError() == platform::ErrorSharingViolation) {
      NoteProblem(journal, "Reading the journal", path);
      return TRecovery::Failed;
    }
    return SetAside(path, journal,
                    "it cannot be opened as a file: " + platform::ErrorText(platform::LastError()));
  }
  if (!file.Size(size) || size < 0 || size > MaxJournalSize) {
    file.Close(); // an open file cannot be renamed on Windows
    return SetAside(path, journal, "its size is not that of a journal");
  }
  bytes.resize(static_cast<std::size_t>(size));
  if (!ReadAll(file, bytes.data(), static_cast<std::uint32_t>(size))) {
    NoteProblem(journal, "Reading the journal", path);
    return TRecovery::Failed;
  }
  file.Close();
  // A damaged journal names nothing that can be trusted; the rename that
  // writes a journal never leaves one half written.
  if (!DecodeJournal(bytes, journal))
    return SetAside(path, journal, "it is damaged");
  if (std::string why; !TrustJournal(journal, trust, why))
    return SetAside(path, journal, why);
  if (journal.State == TPlacementJournal::TState::Placing && !RollBackPlacement(journal, true))
    return TRecovery::Failed;
  RemoveLeftovers(journal);
  return TRecovery::Done;
}

bool RollBackPlacement(TPlacementJournal &journal, bool restoreRecord) {
  bool ok = true;
  const auto undo = [&journal, &ok](bool done, std::string_view what, std::string_view path) {
    if (!done)
      NoteProblem(journal, what, path);
    ok = done && ok;
  };
  // Backwards, so that two entries naming one file (in two spellings) end
  // with the oldest version.
  journal.Undone = {};
  journal.Undone.Ran = true;
  for (auto it = journal.Files.rbegin(); it != journal.Files.rend(); ++it) {
    const std::string destination = journal.PathOf(it->Destination);
    const std::string temp = journal.TempOf(*it);
    undo(RemoveOwnFile(temp), "Removing", temp);
    if (!it->Existed) {
      const bool placed = PathExists(destination);
      const bool removed = RemoveOwnFile(destination);
      undo(removed, "Removing", destination);
      journal.Undone.Removed += placed && removed ? 1 : 0;
    } else if (const std::string backup = journal.BackupOf(*it); PathExists(backup)) {
      const bool back = RemoveOwnFile(destination) &&
                        Twice([&] { return platform::MoveFileReplacing(backup, destination); });
      undo(back, "Putting back", destination);
      journal.Undone.PutBack += back ? 1 : 0;
    }
  }
  if (restoreRecord)
    undo(admin::UndoRecord(journal.Record, &journal.Undone.RecordRestored),
         "Restoring the package record in", journal.Record.AdminPath);
  if (ok) {
    journal.State = TPlacementJournal::TState::Idle;
    journal.ClearFiles();
  }
  return ok;
}

bool FlushPlacedFolders(TPlacementJournal &journal) {
  std::vector<bool> flushed(journal.Folders.size(), false);
  for (const TPlacedFile &file : journal.Files) {
    const std::uint32_t folder = file.Destination.Folder;
    if (flushed[folder])
      continue;
    if (!platform::FlushFolder(journal.Folders[folder])) {
      NoteProblem(journal, "Flushing the folder", journal.Folders[folder]);
      return false;
    }
    flushed[folder] = true;
  }
  return true;
}

bool CommitPlacement(TPlacementJournal &journal) {
  // The journal is changed in place and put back when it cannot be written:
  // a copy of a package of many files would double its memory.
  const TPlacementJournal::TState state = journal.State;
  const std::size_t leftovers = journal.Leftovers.size();
  const std::size_t names = journal.Names.size();
  std::deque<TPlacedFile> files = std::move(journal.Files);
  journal.Files.clear();
  journal.State = TPlacementJournal::TState::Idle;
  // The folders that backups are removed from, each once.
  std::vector<std::string> backupFolders;
  for (const TPlacedFile &file : files) {
    if (!file.Existed)
      continue;
    journal.Leftovers.push_back(journal.AddPath(journal.BackupOf(file)));
    const std::string &folder = journal.Folders[file.Destination.Folder];
    if (std::find(backupFolders.begin(), backupFolders.end(), folder) == backupFolders.end())
      backupFolders.push_back(folder);
  }
  // A journal that cannot be rewritten but is gone says nothing wrong.
  if (!WriteJournal(journal) && !RemoveOwnFile(journal.Path)) {
    journal.State = state;
    journal.Files = std::move(files);
    journal.Leftovers.resize(leftovers);
    journal.Names.resize(names);
    NoteProblem(journal, "Writing the journal", journal.Path);
    // The commit has failed either way; what stays is left in the journal.
    (void)RollBackPlacement(journal, true);
    return false;
  }
  files = std::deque<TPlacedFile>();
  // The next journal no longer names the backups: their removal has to be on
  // the disk before it, or a power cut could bring them back unlisted.
  RemoveLeftovers(journal);
  for (const std::string &folder : backupFolders)
    if (!platform::FlushFolder(folder))
      NoteProblem(journal, "Flushing the folder", folder);
  return true;
}

void CloseJournal(TPlacementJournal &journal) {
  if (journal.State == TPlacementJournal::TState::Placing)
    return;
  journal.State = TPlacementJournal::TState::Idle;
  RemoveLeftovers(journal);
  if (journal.Leftovers.empty()) {
    // One that stays has nothing left to undo: the next start removes it.
    (void)RemoveOwnFile(journal.Path);
    return;
  }
  journal.PackagesTaken = false;
  // Leftovers are only clutter; an unwritten note is found again next start.
  (void)WriteJournal(journal);
}

} // namespace packages
