// The checks of zrktool check, in the order a run meets their subjects: the
// unzip library beside the program, settings, header and seed, a journal a
// stopped run left, folders, every pending package (present, verified, its
// archive unpackable, its FILEPATH.ID, room on the disks), and what the last
// run left behind.
#include "tools/check.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include <CLI/CLI.hpp>

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "admin/settings.h"
#include "dunzip/dunzip_api.h"
#include "packages/package_check.h"
#include "packages/package_signature.h"
#include "packages/placement.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "platform/version_info.h"
#include "tools/archive_check.h"
#include "tools/codepage.h"
#include "tools/commands.h"
#include "tools/journal_view.h"
#include "tools/signature_view.h"
#include "tools/values.h"
#include "tools/zrktool.h"
#include "util/registry.h"
#include "util/run_log.h"
#include "util/text.h"

namespace tools {

namespace {

enum class TLevel { Ok, Note, Fail };

struct TFinding {
  TLevel Level;
  std::string Item;
  std::string Detail;
  std::vector<std::string> Lines; // shown indented below
};

class TChecks {
public:
  std::vector<TFinding> Findings;
  TFinding &Ok(std::string item, std::string detail) {
    return Findings.emplace_back(TFinding{TLevel::Ok, std::move(item), std::move(detail), {}});
  }
  TFinding &Note(std::string item, std::string detail) {
    return Findings.emplace_back(TFinding{TLevel::Note, std::move(item), std::move(detail), {}});
  }
  TFinding &Bad(std::string item, std::string detail) {
    return Findings.emplace_back(TFinding{TLevel::Fail, std::move(item), std::move(detail), {}});
  }
  bool WouldFail() const {
    return std::any_of(Findings.begin(), Findings.end(),
                       [](const TFinding &f) { return f.Level == TLevel::Fail; });
  }
};

std::string Utf8(util::TShortString text) {
  return Cp1252ToUtf8(text.View());
}

std::string FolderText(util::TShortString folder) {
  util::TShortString t = util::TrimText(folder.View());
  return t.Empty() ? std::string() : util::ExtractFolder(util::AddBackslash(t.View()));
}

std::string Joined(const std::string &folder, std::string_view name) {
  return util::AddBackslash(folder) + std::string(name);
}

// Free bytes where `folder` lies; -1 when unknown.
std::int64_t FreeBytes(const std::string &folder) {
  std::error_code ec;
  auto space = std::filesystem::space(platform::NativePath(folder), ec);
  return ec ? -1 : static_cast<std::int64_t>(space.available);
}

// Empty when zrkupd can make the missing `folder` (as it does for every named
// destination folder before the first package); else why not. Tries it with
// a folder of its own beside, removed at once: rights show no other way.
std::string WhyNotMakeable(const std::string &folder) {
  if (util::PathExists(folder))
    return "a file is in its place";
  std::string parent = folder;
  for (;;) {
    while (parent.size() > 1 && (parent.back() == '\\' || parent.back() == '/'))
      parent.pop_back();
    const std::size_t nameStart = platform::NameStart(parent, "\\/");
    if (nameStart == 0)
      return "no part of the path exists (a missing drive?)";
    parent.resize(nameStart == 1 ? 1 : nameStart - 1); // the root keeps its separator
    if (parent.size() == 2 && parent[1] == ':')
      parent += '\\';
    if (util::FolderExists(parent))
      break;
    if (util::PathExists(parent))
      return ShownPath(parent) + " is a file, not a folder";
    if (nameStart == 1 || parent.size() <= 3)
      return "no part of the path exists (a missing drive?)";
  }
  const std::string probe =
      Joined(parent, "~zrkchk" + std::to_string(platform::TickCount() % 1000000));
  if (!platform::CreateFolder(probe))
    return "no folder can be made in " + ShownPath(parent) + ": " + OsErrorText();
  (void)platform::RemoveFolder(probe); // the probe's own folder; nothing else is touched
  return {};
}

// The destination folders a package sends files to: its DestIndex and every
// index of its FILEPATH.ID.
std::set<int> DestinationsOf(const admin::TPackageRecord &record, const std::string &marker) {
  std::set<int> used{record.DestIndex()};
  for (std::size_t at = 0; at + packages::FilePathEntrySize <= marker.size();
       at += packages::FilePathEntrySize) {
    const int index = static_cast<std::uint8_t>(marker[at + packages::FolderIndexOffset]);
    if (index >= 1 && index <= admin::DestFolderCount)
      used.insert(index);
  }
  return used;
}

// One file of a package where a run would copy it.
struct TEntryTarget {
  std::string Source, Destination;
};

// A cause that fails a file's copy with -5, known before the run: why, or
// empty when it does not apply. One row per cause, in the order a copy meets
// them; the first that applies is reported.
struct TEntryRule {
  std::string (*Why)(const TEntryTarget &target, std::uint32_t attributes, bool exists);
};

const TEntryRule EntryRules[] = {
    {[](const TEntryTarget &t, std::uint32_t, bool) {
      const std::size_t longest = std::max(t.Source.size(), t.Destination.size());
      return longest <= util::TShortString::Capacity
                 ? std::string()
                 : "the path is too long (" + std::to_string(longest) + " characters, at most " +
                       std::to_string(util::TShortString::Capacity) + ")";
    }},
    {[](const TEntryTarget &, std::uint32_t attributes, bool exists) {
      return exists && (attributes & platform::faDirectory) != 0
                 ? std::string("a folder of that name is in the way")
                 : std::string();
    }},
    {[](const TEntryTarget &, std::uint32_t attributes, bool exists) {
      return exists && (attributes & platform::faReadOnly) != 0
                 ? std::string("the file there is read-only")
                 : std::string();
    }},
    // Replacing a file that another program holds open fails on Windows.
    {[](const TEntryTarget &t, std::uint32_t, bool exists) {
      platform::TFile file;
      return !exists || file.OpenUnshared(t.Destination)
                 ? std::string()
                 : "it cannot be opened for writing unshared: " + OsErrorText();
    }},
};

// The destination index of each file, as placement takes them: in the
// order Windows lists the staging folder, each FILEPATH.ID record's index
// carrying over to the files after it until another record names one.
std::vector<std::pair<std::string, int>> PlacementOrder(std::vector<std::string> names,
                                                        const std::string &marker, int index) {
  const auto key = [](const std::string &name) {
    std::u32string upper;
    for (char ch : name)
      upper += platform::Cp1252UpperCase(static_cast<unsigned char>(ch));
    return upper;
  };
  std::sort(names.begin(), names.end(),
            [&key](const std::string &a, const std::string &b) { return key(a) < key(b); });
  std::vector<std::pair<std::string, int>> order;
  for (const std::string &name : names) {
    const util::TShortString lower = util::LowerCaseAscii(name);
    // The signed manifest is never placed and names no folder.
    if (lower == util::LowerCaseAscii(packages::ManifestName))
      continue;
    for (std::size_t at = 0; at + packages::FilePathEntrySize <= marker.size();
         at += packages::FilePathEntrySize) {
      const auto length = static_cast<std::uint8_t>(marker[at + packages::FileNameLengthOffset]);
      if (util::LowerCaseAscii(std::string_view(marker).substr(
              at + packages::FileNameCharsOffset,
              std::min<std::size_t>(length, packages::FileNameCapacity))) != lower)
        continue;
      const int own = static_cast<std::uint8_t>(marker[at + packages::FolderIndexOffset]);
      if (own >= 1 && own <= admin::DestFolderCount)
        index = own;
      break;
    }
    if (util::LowerCaseAscii(name) != util::LowerCaseAscii(packages::FilePathIdName))
      order.emplace_back(name, index);
  }
  return order;
}

// Every file of a package against what stands where it goes; one finding
// names the first file that stops the run and lists the others.
void CheckTargets(TChecks &c, const std::string &item, const admin::TAdminHeader &header,
                  const TArchiveReport &archive, int destIndex) {
  const std::string staging = FolderText(header.StagingFolder());
  TFinding *blocked = nullptr;
  std::size_t count = 0;
  for (const auto &[name, index] : PlacementOrder(archive.Files, archive.FilePathId, destIndex)) {
    if (index < 1 || index > admin::DestFolderCount)
      continue; // reported as -3 already
    const std::string folder = FolderText(header.DestFolder(index));
    const TEntryTarget target{Joined(staging, name), Joined(folder, name)};
    std::uint32_t attributes = 0;
    const bool exists = platform::GetAttributes(target.Destination, attributes);
    for (const TEntryRule &rule : EntryRules) {
      const std::string why = rule.Why(target, attributes, exists);
      if (why.empty())
        continue;
      const std::string line = ShownPath(target.Destination) + ": " + why;
      if (blocked == nullptr)
        blocked = &c.Bad(item, Cp1252ToUtf8(name) + " cannot be placed: " + line + " (result -5)");
      else
        blocked->Lines.push_back("also " + Cp1252ToUtf8(name) + " at " + line);
      ++count;
      break;
    }
  }
  if (count > 1)
    blocked->Detail += "; " + std::to_string(count) + " files in all";
}

// One pending package: present, verified, unpackable, every destination
// folder it uses there or makeable; adds the bytes it unpacks to the totals.
void CheckPackage(TChecks &c, const admin::TAdminHeader &header,
                  const admin::TPackageRecord &record, const std::map<int, std::string> &unmakeable,
                  const packages::TPackageKey *key, std::set<int> &used, TStdio &stdio,
                  std::uint64_t &largest, std::uint64_t &total) {
  const std::string name = record.PackageFileName().Str();
  const std::string item = "package " + Cp1252ToUtf8(name);
  const int dest = record.DestIndex();
  if (dest < 1 || dest > admin::DestFolderCount)
    c.Bad(item, "DestIndex " + std::to_string(dest) + " is outside 1 to 20 (result -3)");
  const std::string path = Joined(FolderText(header.DownloadFolder()), name);
  if (!util::PathExists(path)) {
    c.Bad(item, ShownPath(path) + " is missing (result -1)");
    return;
  }
  const std::string zip = stdio.Scratch();
  packages::TPackageReport report;
  stdio.Progress.Show("checking " + Cp1252ToUtf8(name), true);
  const bool verified = packages::VerifyPackageStream(path, zip, report);
  stdio.Progress.Clear();
  if (!verified) {
    c.Bad(item, "verification fails: " + DescribeReport(report) + " (result -1)");
    return;
  }
  TArchiveReport archive = CheckArchive(zip, key != nullptr);
  for (const std::string &problem : archive.Problems)
    c.Bad(item, Cp1252ToUtf8(problem) + " (result -2)");
  if (!archive.Problems.empty())
    return;
  std::string signature;
  if (key != nullptr) {
    const TSignatureView view = ViewSignature(archive, name, key);
    if (!view.Problem.empty()) {
      c.Bad(item, Cp1252ToUtf8(view.Problem) + " (result -1)");
      return;
    }
    signature = ", signed with the built-in key";
  } else if (archive.HasManifest) {
    signature = ", with MANIFEST.SIG (not checked: no key built in)";
  }
  largest = std::max(largest, archive.UnpackedBytes);
  total += archive.UnpackedBytes;
  for (int index : DestinationsOf(record, archive.FilePathId)) {
    used.insert(index);
    if (auto it = unmakeable.find(index); it != unmakeable.end())
      c.Bad(item, std::string(index == dest ? "its destination folder "
                                            : "FILEPATH.ID sends "
                                              "files to destination "
                                              "folder ") +
                      std::to_string(index) + " " +
                      ShownPath(FolderText(header.DestFolder(index))) +
                      ", which does not exist and cannot be made: " + it->second + " (result -4)");
  }
  CheckTargets(c, item, header, archive, dest);
  c.Ok(item, "verified, " + std::to_string(archive.Files.size()) + " files, " +
                 std::to_string(archive.UnpackedBytes) + " bytes unpacked" +
                 (archive.HasFilePathId ? ", with FILEPATH.ID" : "") + signature);
}

void CheckSpace(TChecks &c, const std::string &folder, std::uint64_t needed, const char *what) {
  if (folder.empty() || needed == 0 || !util::FolderExists(folder))
    return;
  const std::int64_t free = FreeBytes(folder);
  if (free < 0)
    return;
  if (static_cast<std::uint64_t>(free) < needed)
    c.Bad("free space", ShownPath(folder) + " has " + std::to_string(free) + " bytes free, " +
                            what + " needs " + std::to_string(needed));
}

// The key that zrkupd of this build carries (the same as this tool's).
bool CheckPackageKey(TChecks &c, packages::TPackageKey &key) {
  std::string problem;
  if (packages::BuiltInPackageKey(key, problem)) {
    c.Ok("package key", packages::FingerprintText(key.Fingerprint) +
                            ": zrkupd places only packages signed with it");
    return true;
  }
  if (!problem.empty())
    c.Bad("package key", problem + " (every package fails with -1)");
  else
    c.Ok("package key", "none built in: packages are placed without a signature check");
  return false;
}

// The folder of zrktool itself; without a separator the whole path, as the
// folder cannot be told.
std::string OwnFolder() {
  const std::string self = platform::ExecutablePath();
  const std::size_t nameStart = platform::NameStart(self, "\\");
  return nameStart == 0 ? self : self.substr(0, nameStart - 1);
}

// The folder whose zrkupd and unzip library are checked, and where it comes
// from: --program-folder, else the host's program folder as zrkupd finds it
// (the registry, else the folder of the program that asks).
std::string ProgramFolder(const std::string &given, std::string &from) {
  if (!given.empty()) {
    from = "--program-folder";
    return given;
  }
  const std::string registered = util::FindHostProgramFolder().Str();
  from = registered == OwnFolder() ? "zrktool's own folder: the registry names no program folder"
                                   : "the host's program folder in the registry";
  return registered;
}

// The unzip library beside the program: there, loadable with its entry, and
// of the program's version. zrkupd loads it from its own folder only, so
// that folder is the one looked at, never the one zrktool runs from.
void CheckUnzipLibrary(TChecks &c, const std::string &programFolder) {
  std::string from;
  const std::string folder = ProgramFolder(programFolder, from);
  const bool windows = platform::HostIsWindows();
  const std::string program = Joined(folder, windows ? "zrkupd.exe" : "zrkupd");
  const std::string library = Joined(folder, windows ? "DUNZIP32.DLL" : "libdunzip32.so");
  const std::string item = "unzip library";
  c.Ok("program folder", ShownPath(folder) + " (" + from + ")");
  if (!util::PathExists(program)) {
    c.Note(item, "not checked: " + ShownPath(folder) +
                     " holds no zrkupd; name the program's folder with --program-folder");
    return;
  }
  if (!util::PathExists(library)) {
    c.Bad(item, ShownPath(library) + " is missing beside " + ShownPath(program) +
                    " (zrkupd warns and ends with exit code 1)");
    return;
  }
  void *loaded = platform::LoadDynamicLibrary(dunzip::DunzipLibraryName, folder);
  const bool entry =
      loaded != nullptr && platform::FindSymbol(loaded, dunzip::DunzipEntryName) != nullptr;
  const std::string why = OsErrorText();
  if (loaded != nullptr)
    platform::FreeDynamicLibrary(loaded);
  if (!entry) {
    c.Bad(item, ShownPath(library) +
                    (loaded == nullptr
                         ? " does not load: " + why
                         : " has no entry \"" + std::string(dunzip::DunzipEntryName) + "\"") +
                    " (zrkupd warns and ends with exit code 1)");
    return;
  }
  const std::string programVersion = platform::FileVersion(program);
  const std::string libraryVersion = platform::FileVersion(library);
  if (programVersion != libraryVersion) {
    c.Bad(item, ShownPath(library) + " is version " +
                    (libraryVersion.empty() ? "(none)" : libraryVersion) + ", " +
                    ShownPath(program) + " " +
                    (programVersion.empty() ? "(none)" : programVersion) +
                    "; they ship together and must be of one build");
    return;
  }
  c.Ok(item, ShownPath(library) + " loads beside " + ShownPath(program) +
                 (libraryVersion.empty() ? " (no version information on this platform)"
                                         : ", both version " + libraryVersion));
}

void ShowJournal(TChecks &c, const TJournalView &j, TJson &json) {
  if (!j.Present) {
    json = nullptr;
    return;
  }
  json = TJson::object();
  json["Path"] = ShownPath(j.Path);
  json["Decoded"] = j.Decoded;
  json["NextRun"] = j.NextRun;
  TFinding &f = j.Blockers.empty() ? c.Note("journal", "") : c.Bad("journal", "");
  f.Detail = ShownPath(j.Path) + " is left from a run that did not end: " + j.NextRun;
  if (!j.Decoded)
    return;
  json["Placing"] = j.Placing;
  json["Package"] = Cp1252ToUtf8(j.Package);
  json["Record"] = j.Record;
  json["Files"] = TJson::array();
  if (j.Placing)
    f.Lines.push_back(
        "package " + (j.Package.empty() ? "(record not found)" : Cp1252ToUtf8(j.Package)) +
        ", record " + std::to_string(j.Record) + ", " + std::to_string(j.Files.size()) + " files:");
  for (const TJournalFileView &file : j.Files) {
    const std::string state = !file.Existed        ? "new: removed"
                              : file.BackupPresent ? "replaced: the previous version is put back"
                                                   : "not replaced yet: stays as it is";
    json["Files"].push_back({{"Path", ShownPath(file.Destination)},
                             {"Existed", file.Existed},
                             {"BackupPresent", file.BackupPresent}});
    f.Lines.push_back("  " + ShownPath(file.Destination) + " (" + state + ")");
  }
  json["Leftovers"] = TJson::array();
  for (const std::string &l : j.Leftovers) {
    json["Leftovers"].push_back(ShownPath(l));
    f.Lines.push_back("leftover " + ShownPath(l) + " (removed)");
  }
  json["Blockers"] = TJson::array();
  for (const std::string &b : j.Blockers) {
    json["Blockers"].push_back(b);
    f.Lines.push_back("in the way: " + b);
  }
}

const char *LevelName(TLevel level) {
  return level == TLevel::Ok ? "ok" : level == TLevel::Note ? "note" : "fail";
}

void Print(const TChecks &c, const TJson &lastRun, const TJson &journal,
           const TCheckOptions &options, std::ostream &out) {
  if (options.Json) {
    TJson j = TJson::object();
    j["WouldFail"] = c.WouldFail();
    j["Checks"] = TJson::array();
    j["Problems"] = TJson::array();
    for (const TFinding &f : c.Findings) {
      TJson check = {{"Ok", f.Level != TLevel::Fail},
                     {"Level", LevelName(f.Level)},
                     {"Item", f.Item},
                     {"Detail", f.Detail}};
      if (!f.Lines.empty())
        check["Lines"] = f.Lines;
      j["Checks"].push_back(std::move(check));
      if (f.Level == TLevel::Fail)
        j["Problems"].push_back(ProblemJson(f.Item, f.Detail, true));
    }
    j["LastRun"] = lastRun;
    j["Journal"] = journal;
    PrintJson(out, j);
    return;
  }
  for (const TFinding &f : c.Findings) {
    out << (f.Level == TLevel::Ok     ? "ok    "
            : f.Level == TLevel::Note ? "note  "
                                      : "FAIL  ")
        << f.Item << ": " << f.Detail << "\n";
    // A package of thousands of files would bury the rest of the report.
    const std::size_t shown =
        options.Verbose ? f.Lines.size() : std::min(f.Lines.size(), ListedLines);
    for (std::size_t i = 0; i < shown; ++i)
      out << "        " << f.Lines[i] << "\n";
    if (shown < f.Lines.size())
      out << "        ... and " << f.Lines.size() - shown << " more (--verbose shows them all)\n";
  }
  if (lastRun.is_null())
    out << "last run: none recorded in the header\n";
  else
    for (const auto &[key, value] : lastRun.items())
      out << "last run " << key << ": "
          << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
  const auto failures = std::count_if(c.Findings.begin(), c.Findings.end(),
                                      [](const TFinding &f) { return f.Level == TLevel::Fail; });
  if (failures > 0)
    out << "The update would fail: " << failures << " problem" << (failures > 1 ? "s" : "")
        << ".\n";
  else
    out << "Nothing found that would stop the update.\n";
}

// What the header and the run log say of the last run; null when neither
// says anything.
TJson LastRunOf(const admin::TAdminHeader &header) {
  TJson lastRun = nullptr;
  // A header that no run has stamped yet holds day 0, 1 January 1600.
  if (header.LastRunDate() != 0 || header.LastRunTime() != 0) {
    lastRun = TJson::object();
    lastRun["LastResult"] = header.LastResult();
    lastRun["Meaning"] = RunResultMeaning(header.LastResult());
    lastRun["Date"] = FormatDayNumber(header.LastRunDate());
    lastRun["Time"] = FormatSecondOfDay(header.LastRunTime());
  }
  const std::string logPath = Joined(admin::DataFolder.Str(), runlog::RunLogName);
  if (util::PathExists(logPath)) {
    auto blocks = runlog::SplitBlocks(ReadWholeFile(logPath, "run log"));
    if (!blocks.empty()) {
      std::string block = Cp1252ToUtf8(blocks.back());
      block.erase(std::remove(block.begin(), block.end(), '\r'), block.end());
      if (lastRun.is_null())
        lastRun = TJson::object();
      lastRun["LogBlock"] = block;
    }
  }
  return lastRun;
}

// The folder rules and the header's folders; the result holds the missing
// destination folders that cannot be made, with why not.
std::map<int, std::string> CheckFolders(TChecks &c, const admin::TAdminHeader &header) {
  if (std::string problem = FolderRuleProblem(header); !problem.empty())
    c.Bad("folder rules", problem);
  const std::string download = FolderText(header.DownloadFolder());
  const std::string staging = FolderText(header.StagingFolder());
  for (const auto &[name, folder] :
       {std::pair<std::string, std::string>{"download folder", download},
        std::pair<std::string, std::string>{"staging folder", staging}})
    if (!folder.empty() && !util::FolderExists(folder))
      c.Bad(name, ShownPath(folder) + " does not exist");
  if (FolderText(header.DestFolder(1)).empty())
    c.Ok("destination folder 1", "blank: zrkupd takes the host's program folder from the registry");
  // zrkupd makes every named destination folder before the first package;
  // only one it cannot make fails the packages that use it.
  std::map<int, std::string> unmakeable;
  for (int i = 1; i <= admin::DestFolderCount; ++i) {
    const std::string folder = FolderText(header.DestFolder(i));
    if (folder.empty() || util::FolderExists(folder))
      continue;
    if (std::string why = WhyNotMakeable(folder); !why.empty())
      unmakeable[i] = why;
    else
      c.Ok("destination folder " + std::to_string(i),
           ShownPath(folder) + " does not exist yet; zrkupd makes it before the first package");
  }
  return unmakeable;
}

} // namespace

int CheckDataFolder(const std::string &dataFolder, const TCheckOptions &options, TStdio &stdio,
                    std::ostream &out) {
  if (!util::FolderExists(dataFolder))
    Fail(ExitBadInput, "data folder " + ShownPath(dataFolder) + " does not exist");
  TChecks c;
  TJson lastRun = nullptr, journal = nullptr;
  admin::DataFolder = util::TrimText(dataFolder);
  const std::string settingsPath = admin::SettingsPath();
  const std::int64_t settingsSize = FileSizeOf(settingsPath);
  auto finish = [&] {
    Print(c, lastRun, journal, options, out);
    return c.WouldFail() ? ExitFailed : ExitOk;
  };

  CheckUnzipLibrary(c, options.ProgramFolder);
  packages::TPackageKey key;
  const bool haveKey = CheckPackageKey(c, key);
  if (settingsSize < 0 || !admin::ReadSettings()) {
    c.Bad("settings", ShownPath(settingsPath) + " cannot be read: " + OsErrorText() +
                          (settingsSize < 0 ? " (zrkupd would write default settings)"
                                            : " (zrkupd would end without a message)"));
    return finish();
  }
  // Another size is read all the same (a short file's missing bytes as key
  // bytes); whatever that gives is judged below like any other settings.
  std::string size;
  if (settingsSize != static_cast<std::int64_t>(admin::SettingsRecordSize))
    size = " (" + std::to_string(settingsSize) + " bytes, a settings record " +
           std::to_string(admin::SettingsRecordSize) + ")";
  c.Ok("settings", ShownPath(settingsPath) + ", AdminSeed " +
                       std::to_string(admin::Settings.AdminSeed()) + size);

  const std::int32_t seed = admin::Settings.AdminSeed();
  // The journal is read before the header, as a run reads it.
  ShowJournal(c, ViewJournal(dataFolder, seed), journal);
  const std::string adminPath = admin::Settings.AdminFileName().Str();
  admin::TAdminHeader header;
  if (!admin::ReadStoredHeader(adminPath, header, seed)) {
    c.Bad("administration file", ShownPath(adminPath) +
                                     " cannot be read as a header (names without a folder are "
                                     "taken from the current folder, as zrkupd does)");
    return finish();
  }
  if (std::string why = SeedImplausibility(HeaderFields(), header.Bytes); !why.empty()) {
    c.Bad("seed",
          "the header does not decode under AdminSeed " + std::to_string(seed) + ": " + why);
    return finish();
  }
  c.Ok("administration file",
       ShownPath(adminPath) + ", version " + Utf8(header.VersionText()) + ", offered " +
           Utf8(header.OfferedVersionText()) +
           (header.UpdatePending() ? ", update pending" : ", nothing pending"));
  lastRun = LastRunOf(header);
  const std::map<int, std::string> unmakeable = CheckFolders(c, header);
  // Where a run puts what goes to a blank destination folder 1.
  if (FolderText(header.DestFolder(1)).empty())
    header.SetDestFolder(1, util::FindHostProgramFolder());
  const std::string staging = FolderText(header.StagingFolder());

  // Every pending package, in file order.
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  int pending = 0;
  std::uint64_t largest = 0, total = 0;
  std::set<int> used;
  while (admin::ReadNextPackage(file, adminPath, record, seed, first)) {
    if (record.PackageReady() == 0 || record.InstallPending() == 0)
      continue;
    ++pending;
    if (header.UpdatePending())
      CheckPackage(c, header, record, unmakeable, haveKey ? &key : nullptr, used, stdio, largest,
                   total);
  }
  file.Close();
  for (const auto &[index, why] : unmakeable)
    if (used.count(index) == 0)
      c.Note("destination folder " + std::to_string(index),
             ShownPath(FolderText(header.DestFolder(index))) + " cannot be made (" + why +
                 "); no pending package uses it");
  if (!header.UpdatePending())
    c.Ok("update", "UpdatePending is 0: zrkupd ends without doing anything");
  else if (pending == 0)
    c.Ok("update", "no package record is both ready and pending");
  CheckSpace(c, staging, largest, "the largest package unpacked");
  for (int d : used)
    CheckSpace(c, FolderText(header.DestFolder(d)), total, "the update");
  return finish();
}

void DefineCheck(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string Folder;
    TCheckOptions Check;
  };
  auto o = std::make_shared<TOptions>();
  AddRequiredPath(command, "DATAFOLDER", o->Folder, "the data folder (its ZRKUPD.DAT)");
  command.add_flag("--json", o->Check.Json, "the report as JSON");
  command.add_flag("--verbose", o->Check.Verbose,
                   "every line of long lists (else the first " + std::to_string(ListedLines) +
                       " of each)");
  AddPath(command, "--program-folder", o->Check.ProgramFolder,
          "the folder of zrkupd and DUNZIP32.DLL to check (default: the host's program folder "
          "from the registry, as zrkupd finds it)");
  command.footer("Run it from the folder zrkupd starts in: administration file names without a "
                 "folder are taken from the current folder, as zrkupd does.");
  context.OnRun(command, [o, &context] {
    return CheckDataFolder(o->Folder, o->Check, context.Stdio, context.Out);
  });
}

} // namespace tools
