// The journal read as the next run reads it, and each file it names looked
// at as that run will meet it.
#include "tools/journal_view.h"

#include <algorithm>

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "packages/journal_file.h"
#include "packages/placement.h"
#include "platform/files.h"
#include "tools/codepage.h"
#include "tools/tool_common.h"
#include "util/text.h"

namespace tools {

namespace {

// A journal beyond this is not read whole by a support tool; the next run
// has its own bound.
constexpr std::int64_t MaxJournalShown = 64 * 1024 * 1024;

bool ReadJournalBytes(const std::string &path, std::vector<std::uint8_t> &bytes) {
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenRead(path) || !file.Size(size) || size > MaxJournalShown)
    return false;
  bytes.resize(static_cast<std::size_t>(size));
  std::uint32_t got = 0;
  return size == 0 ||
         (file.Read(bytes.data(), static_cast<std::uint32_t>(size), got) && got == size);
}

// Why `path` cannot be removed or replaced by the next run, and what to do;
// empty when it can (or is not there).
std::string InTheWay(const std::string &path) {
  if (util::FolderExists(path))
    return ShownPath(path) +
           " is a folder; remove it (it is not the update's) so that the file can go back";
  if (!util::PathExists(path))
    return {};
  platform::TFile file;
  if (!file.OpenShared(path))
    return ShownPath(path) + " cannot be opened for writing: " + OsErrorText() +
           "; close the program that holds it";
  return {};
}

// Reads the part at `path` into `part`; false when it is there but would not
// be obeyed as it is.
bool ReadPart(const std::string &path, const std::string &folder,
              packages::TPlacementJournal &part) {
  std::vector<std::uint8_t> bytes;
  return ReadJournalBytes(path, bytes) &&
         (folder.empty() ? packages::DecodeJournal(bytes, part)
                         : packages::DecodePart(bytes, folder, part));
}

} // namespace

TJournalView ViewJournal(const std::string &adminPath, std::int32_t seed) {
  TJournalView view;
  view.Path = packages::JournalPathBeside(adminPath);
  view.Decoded = true;
  packages::TPlacementJournal main;
  bool haveMain = false;
  if (util::PathExists(view.Path)) {
    view.Present = true;
    haveMain = ReadPart(view.Path, {}, main);
    view.Decoded = haveMain;
  }
  // The folder parts lie in the destination folders the header names.
  admin::TAdminHeader header;
  std::vector<std::string> folders;
  if (admin::ReadStoredHeader(adminPath, header, seed))
    for (int i = 1; i <= admin::DestFolderCount; ++i) {
      const std::string folder = util::AddBackslash(packages::DestinationFolder(header, i));
      if (std::find(folders.begin(), folders.end(), folder) == folders.end())
        folders.push_back(folder);
    }
  const bool placing = main.State == packages::TPlacementJournal::TState::Placing;
  for (const std::string &folder : folders) {
    const std::string path = packages::JournalPartIn(folder);
    if (!util::PathExists(path))
      continue;
    view.Present = true;
    packages::TPlacementJournal part;
    if (!ReadPart(path, folder, part)) {
      view.Decoded = false;
      view.Refused.push_back(path);
      continue;
    }
    for (const packages::TPlacedFile &f : part.Files) {
      if (haveMain && !placing && f.Id == main.Id)
        continue; // applied: its backup is a leftover
      TJournalFileView file;
      file.Destination = part.PathOf(f.Destination);
      file.Existed = f.Existed;
      file.BackupPresent = f.Existed && packages::Holds(part.BackupOf(f), f.Old);
      if (std::string why = InTheWay(file.Destination); !why.empty() && file.BackupPresent)
        view.Blockers.push_back(why);
      view.Files.push_back(std::move(file));
    }
    for (const packages::TLeftover &l : part.Leftovers) {
      const std::string leftover = part.PathOf(l.Path);
      if (packages::Holds(leftover, l.Proof))
        view.Leftovers.push_back(leftover);
    }
  }
  if (!view.Present)
    return view;
  if (!view.Decoded && !haveMain && util::PathExists(view.Path)) {
    view.NextRun = "it does not decode as a journal (cut short, damaged, or too large to show); "
                   "the next run does not follow it but puts it aside";
    return view;
  }
  view.Placing = placing || !view.Files.empty();
  view.Package = placing ? main.Record.PackageName : std::string();
  const std::int64_t at = main.Record.Offset - static_cast<std::int64_t>(admin::AdminHeaderSize);
  if (placing && at >= 0 && at % static_cast<std::int64_t>(admin::PackageRecordSize) == 0)
    view.Record = at / static_cast<std::int64_t>(admin::PackageRecordSize);
  std::size_t restored = 0, removed = 0;
  for (const TJournalFileView &f : view.Files)
    (f.Existed ? restored : removed) += 1;
  if (view.Placing)
    view.NextRun = "a run stopped while placing this package; the next run first puts it back (" +
                   std::to_string(restored) + " previous versions restored, " +
                   std::to_string(removed) + " new files removed, the package record as it was" +
                   ")" +
                   (view.Blockers.empty() ? ", then goes on with the update"
                                          : "; while something stands in the way it ends "
                                            "with -9, changes nothing else and the next "
                                            "run tries again");
  else if (main.State == packages::TPlacementJournal::TState::Cleaning)
    view.NextRun = "a run stopped while it emptied the staging and download folders; the next "
                   "run deletes the " +
                   std::to_string(main.Cleaning.size()) +
                   " files it listed that still have their size and time, if the header is "
                   "still the one that run wrote, then goes on";
  else
    view.NextRun = "nothing is half placed; the next run removes " +
                   std::to_string(view.Leftovers.size()) + " leftover files and goes on";
  for (const std::string &refused : view.Refused)
    view.NextRun += "; " + ShownPath(refused) + " does not decode and is put aside";
  return view;
}

} // namespace tools
