// The journal read as the next run reads it, and each file it names looked
// at as that run will meet it.
#include "tools/journal_view.h"

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "packages/journal_file.h"
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

// Why `path` cannot be removed or replaced by the next run; empty when it can
// (or is not there).
std::string InTheWay(const std::string &path) {
  if (util::FolderExists(path))
    return ShownPath(path) + " is a folder";
  if (!util::PathExists(path))
    return {};
  platform::TFile file;
  if (!file.OpenShared(path))
    return ShownPath(path) + " cannot be opened for writing: " + OsErrorText();
  return {};
}

} // namespace

TJournalView ViewJournal(const std::string &dataFolder, std::int32_t seed) {
  TJournalView view;
  view.Path = packages::JournalPathIn(util::TrimText(dataFolder).View());
  view.Present = util::PathExists(view.Path);
  if (!view.Present)
    return view;
  std::vector<std::uint8_t> bytes;
  packages::TPlacementJournal journal;
  view.Decoded = ReadJournalBytes(view.Path, bytes) && packages::DecodeJournal(bytes, journal);
  if (!view.Decoded) {
    view.NextRun = "it does not decode as a journal (cut short, damaged, or too large to show); "
                   "the next run does not follow it";
    return view;
  }
  view.Placing = journal.State == packages::TPlacementJournal::TState::Placing;
  if (view.Placing) {
    const std::int64_t at =
        journal.Record.Offset - static_cast<std::int64_t>(admin::AdminHeaderSize);
    if (at >= 0 && at % static_cast<std::int64_t>(admin::PackageRecordSize) == 0) {
      view.Record = at / static_cast<std::int64_t>(admin::PackageRecordSize);
      platform::TFile file;
      bool first = true;
      admin::TPackageRecord record;
      std::int64_t index = 0;
      while (admin::ReadNextPackage(file, journal.Record.AdminPath, record, seed, first))
        if (index++ == view.Record) {
          view.Package = record.PackageFileName().Str();
          break;
        }
    }
    for (const packages::TPlacedFile &f : journal.Files) {
      TJournalFileView file;
      file.Destination = journal.PathOf(f.Destination);
      file.Existed = f.Existed;
      file.BackupPresent = f.Existed && util::PathExists(journal.BackupOf(f));
      if (std::string why = InTheWay(file.Destination); !why.empty())
        view.Blockers.push_back(why);
      view.Files.push_back(std::move(file));
    }
  }
  for (const packages::TJournalPath &p : journal.Leftovers) {
    const std::string path = journal.PathOf(p);
    if (!util::PathExists(path))
      continue;
    if (std::string why = InTheWay(path); !why.empty())
      view.Blockers.push_back(why);
    view.Leftovers.push_back(path);
  }
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
  else if (journal.State == packages::TPlacementJournal::TState::Cleaning)
    view.NextRun = "a run stopped while it emptied the staging and download folders; the next "
                   "run finishes that if the header is still the one that run wrote, then goes "
                   "on";
  else
    view.NextRun = "nothing is half placed; the next run removes " +
                   std::to_string(view.Leftovers.size()) + " leftover files and goes on";
  return view;
}

} // namespace tools
