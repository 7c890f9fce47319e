// The update run: activation (settings, download record, timer), the run
// sequence that applies the pending packages in file order, the unpacking
// step with its progress handlers, and the result message at the end.
#include "update/copy_form.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "admin/update_folders.h"
#include "packages/package_check.h"
#include "packages/package_signature.h"
#include "packages/placement.h"
#include "packages/placement_journal.h"
#include "packages/unzip_file.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "platform/window.h"
#include "util/path_rules.h"
#include "util/registry.h"
#include "util/run_log.h"
#include "util/text.h"

namespace update {

std::uint32_t UpdInfoMessage = 0;

namespace {

constexpr const char *AllFilesMask = "*.*";
constexpr std::int32_t UnzipFunctionCode = 8;
// The copy routine's number for "writing failed", shown when the journal
// could not record a package as complete.
constexpr int CommitFailedCopyResult = 4;

// True when the staging folder still holds a file that placement would take.
bool HoldsFiles(std::string_view mask) {
  bool any = false;
  (void)platform::WalkFiles(mask, 0, [&any](const platform::TFindEntry &) {
    any = true;
    return false;
  });
  return any;
}

// True when the administration file holds a whole record behind the
// `recordsRead` records delivered so far, so that a failed read was no end.
bool RecordLeftUnread(std::string_view adminPath, int recordsRead) {
  std::vector<platform::TFindEntry> entries;
  if (!platform::FindFiles(adminPath, platform::faHidden | platform::faSysFile, entries) ||
      entries.size() != 1)
    return false;
  const std::uint64_t needed =
      admin::AdminHeaderSize +
      (static_cast<std::uint64_t>(recordsRead) + 1) * admin::PackageRecordSize;
  return entries[0].Size >= needed;
}

// Room the staging folder must leave for a name: an 8.3 one at least.
constexpr std::size_t ShortestNameRoom = 1 + 12;

bool FoldersAreUsable(const admin::TAdminHeader &header) {
  std::string reason;
  if (!util::CheckUpdateFolders(admin::UpdateFoldersOf(header), reason)) {
    runlog::Note(reason);
    return false;
  }
  // Every file is unpacked into it and copied out of it by name: a folder
  // too long for the names could only fail half-way.
  const std::string staging = util::ExtractFolder(util::AddBackslash(header.StagingFolder()));
  if (staging.size() + ShortestNameRoom > util::TShortString::Capacity) {
    runlog::Note("the staging folder " + staging + " is too long to hold the files' names");
    return false;
  }
  return true;
}

// The path a run looked for `path` under, for the log.
std::string LookedFor(std::string_view path) {
  const bool relative = !(path.size() >= 2 && path[1] == ':') &&
                        !(!path.empty() && (path[0] == '\\' || path[0] == '/'));
  if (!relative)
    return std::string(path);
  const std::string current = platform::GetCurrentFolder();
  const char separator = platform::HostIsWindows() ? '\\' : '/';
  return current +
         (current.empty() || current.back() == separator ? "" : std::string(1, separator)) +
         std::string(path);
}

// What a journal found at the start may name: the header's destination
// folders and the administration file the settings name.
packages::TJournalTrust JournalTrust(const admin::TAdminHeader &header,
                                     std::string_view adminPath) {
  packages::TJournalTrust trust;
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    trust.Folders.push_back(util::AddBackslash(packages::DestinationFolder(header, i)));
  trust.AdminPath = std::string(adminPath);
  return trust;
}

std::uint32_t HeaderCrc(const admin::TAdminHeader &header) {
  return ~packages::UpdateCrc32(header.Bytes, static_cast<std::int32_t>(admin::AdminHeaderSize),
                                packages::Crc32Start);
}

// The files that unpacking left in the staging folder, for the run log.
void NoteUnpacked(std::string_view mask) {
  std::string names;
  std::size_t count = 0;
  // A note only: none listed counts none.
  (void)platform::WalkFiles(mask, 0, [&](const platform::TFindEntry &e) {
    ++count;
    names += " " + e.Name;
    return true;
  });
  runlog::Note("Unpacked " + std::to_string(count) + " files:" + names);
}

// Why unpacking failed: the library's result by name, the entry it concerns
// and the system's error; once the packages are gone, this is all that is left.
std::string UnzipFailure(const packages::TUnzipFile &unzip) {
  std::string text = "unzip error " + std::to_string(unzip.ErrorCode) + " " +
                     dunzip::DunzipResultText(unzip.ErrorCode);
  if (const std::string item = unzip.FailedItem(); !item.empty())
    text += ", entry \"" + item + "\"";
  if (unzip.OsError != 0)
    text += ": " + platform::ErrorText(unzip.OsError);
  return text;
}

// A package that a stopped run left half placed, as this run put it back.
void NoteRecovery(const packages::TPlacementJournal &journal, std::int32_t seed) {
  const admin::TRecordUndo &record = journal.Record;
  std::string package = "(no package record)";
  if (!record.AdminPath.empty()) {
    admin::TPackageRecord before;
    std::memcpy(before.Bytes, record.Before.data(), admin::PackageRecordSize);
    admin::ScrambleBuffer(before.Bytes, static_cast<std::int32_t>(admin::PackageRecordSize), seed);
    package = before.PackageFileName().Str() + " (record " +
              std::to_string((record.Offset - static_cast<std::int64_t>(admin::AdminHeaderSize)) /
                                 static_cast<std::int64_t>(admin::PackageRecordSize) +
                             1) +
              " of " + record.AdminPath + ")";
  }
  const packages::TPlacementJournal::TUndone &u = journal.Undone;
  runlog::Note("Putting back package " + package +
               ", which a stopped run left half placed: " + std::to_string(u.PutBack) +
               " previous versions put back, " + std::to_string(u.Removed) +
               " new files removed, the record " + (u.RecordRestored ? "restored" : "not changed") +
               (journal.Problem.empty() ? "" : "; not finished: " + journal.Problem));
}

int Percent(std::int32_t value) {
  return static_cast<int>(std::clamp<std::int32_t>(value, 0, 100));
}

class TFormPlacementEvents : public packages::TPlacementEvents {
public:
  explicit TFormPlacementEvents(TCopyFormView &view) : View(view) {}
  void ShowGroupCaption(std::string_view caption) override {
    View.SetGroupCaption(caption);
    View.RepaintGroup();
  }
  platform::THandle Owner() const override { return View.Handle(); }
  // Never over what the run itself holds open or owns: the administration
  // file, and the journal, log and temporary files beside the settings file.
  // A package may ship new settings or a download record on purpose; those
  // are placed like any other file. Asked for every file of a package: a
  // target that is not there can only be one of them by its spelling, and
  // the identity on disk is asked of the protected file first, which is
  // missing more often.
  bool MayPlaceAt(std::string_view target) override {
    if (Protected.empty()) {
      Protected.push_back(admin::Settings.AdminFileName().Str());
      const std::string journal = packages::JournalPathIn(admin::DataFolder.View());
      const std::string data = journal.substr(0, journal.size() - packages::JournalFileName.size());
      for (std::string_view own : {packages::JournalFileName, packages::JournalTempName,
                                   runlog::RunLogName, admin::SettingsTempName})
        Protected.push_back(data + std::string(own));
    }
    std::uint32_t attributes = 0;
    const bool exists = platform::GetAttributes(target, attributes);
    for (const std::string &path : Protected)
      if (exists ? util::SamePath(path, target) : util::SameSpelledPath(path, target))
        return false;
    return true;
  }
  void Note(std::string_view line) override { runlog::Note(line); }

private:
  TCopyFormView &View;
  // Fixed for the run: the settings are read and the data folder set before it.
  std::vector<std::string> Protected;
};

} // namespace

TCopyForm::TCopyForm(TCopyFormView &view, std::vector<std::string> params)
    : Form(view), Params(std::move(params)) {
  // The log begins before the library loads: a program that ends because it
  // cannot load it leaves a trace of why.
  if (!Params.empty())
    admin::DataFolder = util::TrimText(Params[0]);
  if (!runlog::Running()) // the program entry begins it earlier
    runlog::BeginRun(admin::DataFolder.View(), Params);
  UnZIP = std::make_unique<packages::TUnzipFile>();
  packages::TUnzipFile &unzip = *UnZIP;
  packages::ApplyDialogDesignValues(unzip);
  unzip.OnMajorCallback = [this](const char *item, std::int32_t percent, bool &cancel) {
    UnZIPMajorCallback(item, percent, cancel);
  };
  unzip.OnMinorCallback = [this](const char *item, std::int32_t percent, bool &cancel) {
    UnZIPMinorCallback(item, percent, cancel);
  };
  unzip.OnMessageCallback = [this](std::uint16_t msgId, std::uint16_t mbType, std::uint32_t p1,
                                   std::uint32_t p2, const char *lpsz1, const char *lpsz2,
                                   std::int32_t &result) {
    UnZIPMessageCallback(msgId, mbType, p1, p2, lpsz1, lpsz2, result);
  };

  Form.SetCaption(CopyFormCaption);
  Form.SetGroupCaption(GroupCaptionUnpacking);
  Form.SetPackageText({});
  Form.SetFileText({});
  Form.SetMeter1(0);
  Form.SetMeter2(0);
}

TCopyForm::~TCopyForm() = default;

void TCopyForm::SetUp() {
  if (SetUpDone)
    return;
  SetUpDone = true;

  LastFileName = util::TShortString();
  RunResult = 0;
  UpdInfoMessage = platform::RegisterMessageName(UpdInfoMessageName);
  if (!Params.empty())
    admin::DataFolder = util::TrimText(Params[0]);
  // Defaults only for a missing file: one that exists, short or held by the
  // host for the moment, is the host's and must survive. An unreadable one
  // leaves no administration file to find, and the run ends quietly.
  if (admin::ReadSettingsFile() == admin::TSettingsRead::Missing)
    admin::WriteDefaultSettings();
  util::TShortString caption = admin::Settings.DialogCaption();
  if (!util::TrimText(caption).Empty())
    Form.SetCaption(caption);
  // An unreadable download record reads as empty, which the run can use.
  (void)admin::ReadDownloadRecord(admin::Settings.DownloadFileName(), DownloadRecord,
                                  admin::Settings.AdminSeed());
  Form.ArmTimer(Timer1Interval);
}

void TCopyForm::Timer1Timer() {
  Form.DisarmTimer();
  DoProcess();
}

void TCopyForm::WaitForHost() {
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    Form.ProcessMessages();
    if (platform::FindTopWindow(HostMainWindowClass, nullptr) == 0)
      return;
    Form.ProcessMessages();
    if (static_cast<std::uint32_t>(platform::TickCount() - start) > HostWaitLimit)
      return;
    // The host needs the processor to close its window: no spinning. A
    // message for the dialog ends the pause at once.
    platform::WaitForMessage(HostPollInterval);
  }
}

void TCopyForm::DoProcess() {
  WaitForHost();

  const std::int32_t seed = admin::Settings.AdminSeed();
  const util::TShortString adminPath = admin::Settings.AdminFileName();
  const bool headerRead = admin::ReadAdminHeader(adminPath, AdminHeader, seed);
  const bool pending = headerRead && AdminHeader.UpdatePending() != 0;
  // A journal is obeyed only within the folders that the header names and
  // the rules allow; without them it waits for a run that has them.
  if (!headerRead) {
    runlog::EndRunWithoutResult("the administration file " + LookedFor(adminPath.View()) +
                                " cannot be read");
    Form.PostClose();
    return;
  }
  if (util::TrimText(AdminHeader.DestFolder(1)).Empty())
    AdminHeader.SetDestFolder(1, util::FindHostProgramFolder());
  // Before anything is created or emptied: a wrong folder would turn the
  // run's deletions on the host's own files.
  if (!FoldersAreUsable(AdminHeader)) {
    if (!pending) {
      runlog::EndRunWithoutResult("no update pending in " + LookedFor(adminPath.View()));
      Form.PostClose();
      return;
    }
    RunResult = admin::RunFoldersInvalid;
    admin::RecordRunResult(AdminHeader, RunResult);
    ShowResult();
    Form.PostClose();
    return;
  }

  // A killed run may have left a package half placed: it goes back first.
  // When it cannot yet, this run changes nothing else, says so, and the next
  // one tries again with the update still there.
  packages::TPlacementJournal journal;
  const packages::TRecovery recovery =
      packages::RecoverPlacement(packages::JournalPathIn(admin::DataFolder.View()),
                                 JournalTrust(AdminHeader, adminPath.View()), journal);
  if (journal.Undone.Ran)
    NoteRecovery(journal, seed);
  switch (recovery) {
  case packages::TRecovery::Done:
    break;
  case packages::TRecovery::SetAside:
    runlog::Note(journal.Problem);
    break;
  case packages::TRecovery::Failed:
    runlog::Note(journal.Problem);
    RunResult = admin::RunRecoveryFailed;
    admin::RecordRunResult(AdminHeader, RunResult);
    ShowResult();
    Form.PostClose();
    return;
  }
  // A run killed while it emptied its folders is finished, unless the
  // header is not the one it wrote: then its outcome was never recorded (and
  // this run records it), or the host has written the header since and a new
  // update may be in the download folder.
  if (journal.State == packages::TPlacementJournal::TState::Cleaning &&
      journal.HeaderCrc == HeaderCrc(AdminHeader)) {
    runlog::Note("Finishing the clean-up of a run that was ended before it was done");
    util::DeleteMatchingFiles(util::AddBackslash(AdminHeader.StagingFolder()) + AllFilesMask);
    util::DeleteMatchingFiles(util::AddBackslash(AdminHeader.DownloadFolder()) + AllFilesMask);
    journal.PackagesTaken = false;
  }
  bool packageTaken = journal.PackagesTaken;
  if (!pending) {
    packages::CloseJournal(journal);
    runlog::EndRunWithoutResult("no update pending in " + LookedFor(adminPath.View()));
    Form.PostClose();
    return;
  }
  for (int i = 1; i <= admin::DestFolderCount; ++i) {
    util::TShortString folder = util::TrimText(AdminHeader.DestFolder(i));
    // A folder that cannot be made fails placement there, which reports it.
    if (!folder.Empty())
      (void)util::ForceFolders(folder);
  }

  if (PlacePendingPackages(journal, adminPath, seed))
    packageTaken = true;

  if (packageTaken) {
    admin::StampRunResult(AdminHeader, RunResult);
    // From here a run that is ended is finished by the next start.
    if (journal.State != packages::TPlacementJournal::TState::Placing) {
      journal.State = packages::TPlacementJournal::TState::Cleaning;
      journal.HeaderCrc = HeaderCrc(AdminHeader);
      (void)packages::WriteJournal(journal); // without it the folders are only emptied later
    }
    admin::WriteRunResult(AdminHeader);
  }
  util::DeleteMatchingFiles(util::AddBackslash(AdminHeader.StagingFolder()) + AllFilesMask);
  util::DeleteMatchingFiles(util::AddBackslash(AdminHeader.DownloadFolder()) + AllFilesMask);
  packages::CloseJournal(journal);
  ShowResult();
  Form.PostClose();
}

bool TCopyForm::PlacePendingPackages(packages::TPlacementJournal &journal,
                                     const util::TShortString &adminPath, std::int32_t seed) {
  bool taken = false;
  platform::TFile adminFile;
  bool firstRecord = true;
  int recordsRead = 0;
  TFormPlacementEvents placementEvents(Form);
  for (;;) {
    Form.SetGroupCaption(GroupCaptionUnpacking);
    if (!admin::ReadNextPackage(adminFile, adminPath, PackageRecord, seed, firstRecord)) {
      if (RecordLeftUnread(adminPath.View(), recordsRead))
        RunResult = admin::RunRecordNotRead;
      break;
    }
    ++recordsRead;
    if (PackageRecord.PackageReady() == 0 || PackageRecord.InstallPending() == 0)
      continue;
    taken = journal.PackagesTaken = true;
    // The name is joined to the download folder; it must not lead out of it.
    if (!util::IsPlainFileName(PackageRecord.PackageFileName().View())) {
      RunResult = admin::RunFoldersInvalid;
      break;
    }

    // Kept whole: a path cut to 255 characters would name another file, so a
    // longer one is refused by the check instead.
    const std::string packagePath =
        util::AddBackslash(AdminHeader.DownloadFolder()) + PackageRecord.PackageFileName();
    const std::string archivePath = packages::ArchivePathOf(packagePath);
    if (!CheckCrc32(packagePath)) {
      RunResult = admin::RunChecksumFailed;
      break;
    }
    const std::string stagingMask = util::AddBackslash(AdminHeader.StagingFolder()) + AllFilesMask;
    util::DeleteMatchingFiles(stagingMask);
    // A file that could not be deleted would be placed with this package.
    if (HoldsFiles(stagingMask)) {
      runlog::Note("Unpacking " + archivePath + " not begun: the staging folder still holds " +
                   "files that cannot be deleted (" + stagingMask + ")");
      RunResult = admin::RunUnpackFailed;
      break;
    }
    if (!DoUnZip(archivePath)) {
      runlog::Note("Unpacking " + archivePath + " failed: " + UnzipFailure(*UnZIP));
      RunResult = admin::RunUnpackFailed;
      break;
    }
    NoteUnpacked(stagingMask);
    // With a key built in, only what its holder signed for this package moves.
    std::string signatureNote;
    const bool accepted = packages::CheckStagedPackage(
        AdminHeader.StagingFolder().View(), PackageRecord.PackageFileName().View(), signatureNote);
    if (!signatureNote.empty())
      runlog::Note(signatureNote);
    if (!accepted) {
      RunResult = admin::RunChecksumFailed;
      break;
    }
    std::int64_t position = 0;
    packages::NoteRecord(journal, adminPath.View(),
                         adminFile.Position(position) ? position - admin::PackageRecordSize : -1,
                         PackageRecord, seed);
    const std::int32_t placed = packages::PlaceStagedFiles(AdminHeader, PackageRecord.DestIndex(),
                                                           placementEvents, journal);
    if (placed != admin::RunOk)
      RunResult = placed;
    if (RunResult < 0)
      break;
    // The files are on the disk before their record says so: a power cut
    // must not leave a record that says applied over files that are not.
    if (!packages::FlushPlacedFolders(journal)) {
      runlog::Note(journal.Problem);
      (void)packages::RollBackPlacement(journal, false);
      RunResult = packages::ShowCopyFailure(Form.Handle(), CommitFailedCopyResult);
      break;
    }
    // A record that cannot say "applied" takes its package back out, so
    // that the package and its record agree; the run reports the failure.
    if (!admin::RewritePackage(adminFile, PackageRecord, seed)) {
      // What cannot be undone now stays in the journal for the next start.
      (void)packages::RollBackPlacement(journal, true);
      RunResult = admin::RunRecordNotRewritten;
      break;
    }
    if (!packages::CommitPlacement(journal)) {
      runlog::Note(journal.Problem);
      RunResult = packages::ShowCopyFailure(Form.Handle(), CommitFailedCopyResult);
      break;
    }
  }
  adminFile.Close();
  return taken;
}

void TCopyForm::ShowResult() {
  if (RunResult == 0)
    BuildSuccessMessage(ResultMessage);
  else
    BuildFailureMessage(ResultMessage, RunResult);
  std::string shown = ResultMessage.Title.Str();
  for (const util::TShortString &line : ResultMessage.Lines)
    if (!util::TrimText(line.View()).Empty())
      shown += " | " + line.Str();
  runlog::EndRun(RunResult, shown);
  ShowMessageRecord(Form, RunResult == 0 ? SuccessIconKind : FailureIconKind, 0, ResultMessage);
}

bool TCopyForm::DoUnZip(std::string_view archivePath) {
  Form.SetPackageText(platform::NamePart(archivePath, "\\/:"));
  const std::string destination =
      util::ExtractFolder(util::AddBackslash(AdminHeader.StagingFolder()));
  UnZIP->lpszZipFile().SetText(archivePath);
  UnZIP->lpszDestination().SetText(destination);
  UnZIP->Execute(UnzipFunctionCode);
  return UnZIP->ErrorCode == 0;
}

bool TCopyForm::CheckCrc32(std::string_view packagePath) {
  packages::TPackageReport report;
  const bool ok = packages::VerifyPackageDetailed(packagePath, report);
  runlog::Note("Package " + std::string(packagePath) + ": " +
               packages::DescribePackageReport(report));
  return ok;
}

std::uint8_t TCopyForm::FindIndivFilePath(std::string_view fileName) {
  return packages::FindIndivFilePath(AdminHeader.StagingFolder(), fileName);
}

void TCopyForm::UnZIPMessageCallback(std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t,
                                     const char *, const char *, std::int32_t &rtnResult) {
  rtnResult = 1;
}

void TCopyForm::UnZIPMajorCallback(const char *, std::int32_t percent, bool &) {
  Form.SetMeter1(Percent(percent));
  Form.ProcessMessages();
}

void TCopyForm::UnZIPMinorCallback(const char *szItem, std::int32_t percent, bool &) {
  Form.ProcessMessages();
  // The library reports archive item names with "/".
  const util::TShortString name = util::LowerCaseAscii(
      platform::NamePart(szItem ? std::string_view(szItem) : std::string_view(), "\\/:"));
  if (name != LastFileName) {
    LastFileName = name;
    Form.SetFileText(name);
  }
  Form.SetMeter2(Percent(percent));
}

int RunUpdate(TCopyFormView &view, const std::vector<std::string> &params,
              platform::THandle hostWindow) {
  TCopyForm form(view, params);
  form.HostWindow = hostWindow;
  // A fault inside a handler must not leave the dialog open for ever.
  auto guarded = [&view](auto &&handler) {
    try {
      handler();
    } catch (...) {
      view.DisarmTimer();
      view.PostClose();
    }
  };
  view.RunModal([&] { guarded([&] { form.SetUp(); }); },
                [&] { guarded([&] { form.Timer1Timer(); }); });
  // Every way through the run ends its block; one that did not (a fault in
  // a handler) says so, and the next run starts a block of its own.
  if (runlog::Running())
    runlog::EndRunWithoutResult("the dialog closed before the run had a result");
  return 0;
}

} // namespace update
