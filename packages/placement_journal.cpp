// Replaying the placement journal. Every step of the replay can be repeated
// after a further crash: it looks at what is on disk (is the backup still
// there, does it hold what the run moved aside?) and not at how far an
// earlier attempt came.
#include "packages/placement_journal.h"

#include <algorithm>
#include <utility>

#include "admin/admin_file.h"
#include "packages/package_check.h"
#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "util/path_rules.h"
#include "util/text.h"

namespace packages {

namespace {

// The first thing that could not be undone, for the run log.
void NoteProblem(TPlacementJournal &journal, std::string_view what, std::string_view path,
                 std::string_view why = {}) {
  if (journal.Problem.empty())
    journal.Problem = std::string(what) + " " + std::string(path) + " failed: " +
                      (why.empty() ? platform::ErrorText(platform::LastError()) : std::string(why));
}

bool ReadAll(platform::TFile &file, std::uint8_t *buffer, std::uint32_t count) {
  std::uint32_t got = 0;
  return count == 0 || (file.Read(buffer, count, got) && got == count);
}

// Leftovers still holding what the run moved aside are removed; one that
// holds anything else is not the run's and is forgotten, not touched.
void RemoveLeftovers(TPlacementJournal &journal) {
  std::vector<TLeftover> stay;
  for (const TLeftover &leftover : journal.Leftovers) {
    const std::string path = journal.PathOf(leftover.Path);
    const TMatch match = Match(path, leftover.Proof);
    if (match == TMatch::Unreadable || (match == TMatch::Holds && !RemoveOwnFile(path))) {
      NoteProblem(journal, "Removing", path);
      stay.push_back(leftover);
    }
  }
  journal.Leftovers = std::move(stay);
  if (journal.State != TPlacementJournal::TState::Placing)
    journal.ClearFiles();
}

std::string Folded(std::string_view path) {
  return platform::Cp1252FoldedKey(path);
}

// Moves an unusable part out of the way, whatever it is (a folder, a FIFO),
// so that the run can write its own; the earlier ones refused there move one
// name on, the oldest goes. What cannot be moved is logged.
void SetAside(std::string_view path, TPlacementJournal &journal, const std::string &why) {
  (void)RemoveOwnFile(RefusedPath(path, RefusedKept));
  for (int n = RefusedKept - 1; n >= 1; --n)
    if (PathExists(RefusedPath(path, n)))
      (void)platform::MoveFileReplacing(RefusedPath(path, n), RefusedPath(path, n + 1));
  std::string problem = "The journal " + std::string(path) + " is not obeyed (" + why + ")";
  if (platform::MoveFileReplacing(path, RefusedPath(path, 1)))
    problem += "; it was put aside as " + RefusedPath(path, 1);
  else
    problem += "; putting it aside failed: " + platform::ErrorText(platform::LastError());
  if (journal.Problem.empty())
    journal.Problem = problem;
  else
    journal.Problem += "; " + problem;
}

enum class TRead : std::uint8_t { Absent, Read, Held, Refused };

// Reads the file at `path` whole, within the one size bound.
TRead ReadPart(std::string_view path, std::vector<std::uint8_t> &bytes, std::string &why) {
  if (!PathExists(path))
    return TRead::Absent;
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenRead(path)) {
    // Held by another program: it may be free next time. Anything else
    // (a folder, a FIFO) is no journal of ours.
    if (platform::LastError() == platform::ErrorSharingViolation)
      return TRead::Held;
    why = "it cannot be opened as a file: " + platform::ErrorText(platform::LastError());
    return TRead::Refused;
  }
  if (!file.Size(size) || size < 0 || size > MaxJournalSize) {
    why = "its size is not that of a journal";
    return TRead::Refused; // the handle closes before it is moved
  }
  bytes.resize(static_cast<std::size_t>(size));
  if (!ReadAll(file, bytes.data(), static_cast<std::uint32_t>(size)))
    return TRead::Held;
  return TRead::Read;
}

} // namespace

std::string RefusedPath(std::string_view path, int n) {
  return std::string(path) + std::string(RefusedSuffix) +
         (n > 1 ? "." + std::to_string(n) : std::string());
}

bool TrustJournal(const TPlacementJournal &journal, std::string &why) {
  const TRecordUndo &record = journal.Record;
  if (!record.PackageName.empty()) {
    const std::int64_t behind = record.Offset - static_cast<std::int64_t>(admin::AdminHeaderSize);
    if (behind < 0 || behind % static_cast<std::int64_t>(admin::PackageRecordSize) != 0) {
      why = "its package record is at offset " + std::to_string(record.Offset) +
            ", which is no record's place";
      return false;
    }
    if (!util::IsPlainFileName(record.PackageName)) {
      why = "its package file name " + record.PackageName + " is no plain file name";
      return false;
    }
  }
  for (const TCleanFile &file : journal.Cleaning) {
    if (!util::IsPlainFileName(file.Name)) {
      why = "it would delete " + file.Name + ", which is no plain file name";
      return false;
    }
  }
  return true;
}

bool TrustPart(const TPlacementJournal &part, const TJournalTrust &trust, std::string &why) {
  // Decoded in its folder, a part's paths all have folder 0; a name with a
  // separator made another.
  const auto inFolder = [&part](const TJournalPath &path) {
    return path.Folder == 0 && util::IsPlainFileName(part.NameOf(path));
  };
  std::vector<std::string> own = trust.OwnFiles;
  for (std::string_view name : {JournalPartName, JournalPartTempName})
    own.push_back(part.Folders[0] + std::string(name));
  const auto isOwn = [&own](const std::string &path) {
    return std::any_of(own.begin(), own.end(), [&path](const std::string &file) {
      return util::SameSpelledPath(file, path) || util::SamePath(file, path);
    });
  };
  for (const TPlacedFile &file : part.Files) {
    const std::string path = part.PathOf(file.Destination);
    if (!inFolder(file.Destination)) {
      why = "it names " + path + ", which is not a file of its own folder";
      return false;
    }
    if (isOwn(path)) {
      why = "it names " + path + ", a file of the run's own";
      return false;
    }
  }
  for (const TLeftover &leftover : part.Leftovers) {
    const std::string path = part.PathOf(leftover.Path);
    if (!inFolder(leftover.Path) || !IsBackupSideName(part.NameOf(leftover.Path))) {
      why = "it names " + path + " as a backup of its own";
      return false;
    }
  }
  return true;
}

TRecovery RecoverPlacement(const TJournalTrust &trust, TPlacementJournal &journal) {
  journal = TPlacementJournal();
  journal.AdminPath = trust.AdminPath;
  journal.Seed = trust.Seed;
  journal.Path = JournalPathBeside(trust.AdminPath);
  bool setAside = false;
  const auto refuse = [&](std::string_view path, const std::string &why) {
    SetAside(path, journal, why);
    setAside = true;
  };

  (void)RemoveOwnFile(Beside(journal.Path, JournalTempName)); // half written
  std::vector<std::uint8_t> bytes;
  std::string why;
  TPlacementJournal main;
  bool haveMain = false;
  switch (ReadPart(journal.Path, bytes, why)) {
  case TRead::Absent:
    break;
  case TRead::Held:
    NoteProblem(journal, "Reading the journal", journal.Path);
    return TRecovery::Failed;
  case TRead::Refused:
    refuse(journal.Path, why);
    break;
  case TRead::Read:
    // A damaged part names nothing that can be trusted; the rename that
    // writes one never leaves it half written.
    if (!DecodeJournal(bytes, main))
      refuse(journal.Path, "it is damaged");
    else if (!TrustJournal(main, why))
      refuse(journal.Path, why);
    else
      haveMain = true;
    break;
  }
  if (haveMain) {
    const std::string problem = journal.Problem;
    journal.State = main.State;
    journal.PackagesTaken = main.PackagesTaken;
    journal.Id = main.Id;
    journal.Record = main.Record;
    journal.Cleaning = std::move(main.Cleaning);
    journal.HeaderCrc = main.HeaderCrc;
    journal.Problem = problem;
  }
  // The files of a part are applied when the run's part says their
  // placement was; else they go back.
  const bool placing = journal.State == TPlacementJournal::TState::Placing;
  std::vector<std::string> seen;
  for (const std::string &folder : trust.Folders) {
    if (std::find(seen.begin(), seen.end(), Folded(folder)) != seen.end())
      continue;
    seen.push_back(Folded(folder));
    const std::string path = JournalPartIn(folder);
    (void)RemoveOwnFile(Beside(path, JournalPartTempName));
    TPlacementJournal part;
    switch (ReadPart(path, bytes, why)) {
    case TRead::Absent:
      continue;
    case TRead::Held:
      NoteProblem(journal, "Reading the journal", path);
      return TRecovery::Failed;
    case TRead::Refused:
      refuse(path, why);
      continue;
    case TRead::Read:
      break;
    }
    if (!DecodePart(bytes, folder, part)) {
      refuse(path, "it is damaged");
      continue;
    }
    if (!TrustPart(part, trust, why)) {
      refuse(path, why);
      continue;
    }
    for (const TLeftover &leftover : part.Leftovers)
      journal.Leftovers.push_back({journal.AddPath(part.PathOf(leftover.Path)), leftover.Proof});
    for (const TPlacedFile &file : part.Files) {
      if (!haveMain || placing || file.Id != journal.Id)
        journal.AddFile(part.PathOf(file.Destination), file.Id, file.Number, file.Sides,
                        file.Existed, file.New, file.Old);
      else if (file.Existed)
        journal.Leftovers.push_back({journal.AddPath(part.BackupOf(file)), file.Old});
    }
    journal.PartFolders.push_back(folder);
  }
  if ((placing || !journal.Files.empty()) && !RollBackPlacement(journal, placing))
    return TRecovery::Failed;
  RemoveLeftovers(journal);
  return setAside ? TRecovery::SetAside : TRecovery::Done;
}

void NoteCleaning(TPlacementJournal &journal, std::string_view staging, std::string_view download) {
  journal.Cleaning.clear();
  for (const TCleanFile::TFolder which :
       {TCleanFile::TFolder::Staging, TCleanFile::TFolder::Download}) {
    const std::string folder =
        util::AddBackslash(which == TCleanFile::TFolder::Staging ? staging : download);
    // What the clean-up deletes: plain files, read-only ones included.
    (void)platform::WalkFiles(folder + "*.*", 0, [&](const platform::TFindEntry &entry) {
      TCleanFile file;
      file.Folder = which;
      file.Name = entry.Name;
      file.Size = entry.Size;
      if (platform::GetDosTime(folder + entry.Name, file.DosTime))
        journal.Cleaning.push_back(std::move(file));
      return true;
    });
  }
}

void FinishCleaning(const TPlacementJournal &journal, std::string_view staging,
                    std::string_view download) {
  // The staging folder is the run's scratch alone: emptied before every
  // package, whatever a cut left of its files.
  util::DeleteMatchingFiles(util::AddBackslash(staging) + "*.*");
  std::vector<std::string> archives;
  for (const TCleanFile &file : journal.Cleaning) {
    const std::string path = util::AddBackslash(download) + file.Name;
    if (file.Folder == TCleanFile::TFolder::Download && ArchivePathOf(path) != path)
      archives.push_back(ArchivePathOf(path));
  }
  for (const TCleanFile &file : journal.Cleaning) {
    if (file.Folder != TCleanFile::TFolder::Download)
      continue;
    const std::string path = util::AddBackslash(download) + file.Name;
    std::vector<platform::TFindEntry> entries;
    std::uint32_t time = 0;
    // A file of that name but another size or time came after the run: the
    // host's fresh download, not the run's to delete. The archive the run
    // wrote of a listed package is its own, whatever a cut left of it.
    if (std::find(archives.begin(), archives.end(), path) != archives.end() ||
        (platform::FindFiles(path, 0, entries) && entries.size() == 1 &&
         entries[0].Size == file.Size && platform::GetDosTime(path, time) && time == file.DosTime))
      (void)RemoveOwnFile(path);
  }
}

bool RollBackPlacement(TPlacementJournal &journal, bool restoreRecord) {
  bool ok = true;
  const auto undo = [&journal, &ok](bool done, std::string_view what, std::string_view path,
                                    std::string_view why = {}) {
    if (!done)
      NoteProblem(journal, what, path, why);
    ok = done && ok;
  };
  journal.Undone = {};
  journal.Undone.Ran = true;
  // Backwards, so that two entries naming one file end with the oldest version.
  for (auto it = journal.Files.rbegin(); it != journal.Files.rend(); ++it) {
    const std::string destination = journal.PathOf(it->Destination);
    const std::string temp = journal.TempOf(*it);
    // Its name carries the placement's id: no other file is called so.
    undo(RemoveOwnFile(temp), "Removing", temp);
    if (!it->Existed) {
      const TMatch placed = Match(destination, it->New);
      undo(placed != TMatch::Unreadable, "Reading", destination);
      if (placed == TMatch::Holds) {
        const bool removed = RemoveOwnFile(destination);
        undo(removed, "Removing", destination);
        journal.Undone.Removed += removed ? 1 : 0;
      }
      continue;
    }
    const std::string backup = journal.BackupOf(*it);
    const TMatch kept = Match(backup, it->Old);
    undo(kept != TMatch::Unreadable, "Reading", backup);
    if (kept == TMatch::Holds) {
      // The backup proves the run moved the previous version aside; a file
      // in its place since is the run's own, a folder never: the support
      // person is told what to remove.
      if (IsFolder(destination))
        undo(false, "Putting back", destination,
             "the folder " + destination +
                 " stands where the previous version of a file must go back: remove it (it is "
                 "not the update's), then start the update again");
      else {
        const bool back = RemoveOwnFile(destination) &&
                          Twice([&] { return platform::MoveFileReplacing(backup, destination); });
        undo(back, "Putting back", destination);
        journal.Undone.PutBack += back ? 1 : 0;
      }
    }
  }
  if (restoreRecord)
    undo(admin::RestorePackageRecord(journal.AdminPath, journal.Seed, journal.Record.PackageName,
                                     journal.Record.Offset, journal.Record.Before,
                                     &journal.Undone.RecordRestored),
         "Restoring the package record in", journal.AdminPath);
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
    journal.Leftovers.push_back({journal.AddPath(journal.BackupOf(file)), file.Old});
    const std::string &folder = journal.Folders[file.Destination.Folder];
    if (std::find(backupFolders.begin(), backupFolders.end(), folder) == backupFolders.end())
      backupFolders.push_back(folder);
  }
  // A journal that cannot be rewritten but is gone says nothing wrong.
  if (!WriteJournal(journal) && !RemoveJournal(journal)) {
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
    (void)RemoveJournal(journal);
    return;
  }
  journal.PackagesTaken = false;
  journal.Cleaning.clear();
  // Leftovers are only clutter; an unwritten note is found again next start.
  (void)WriteJournal(journal);
}

} // namespace packages
