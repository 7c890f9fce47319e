// The checks of zrktool check, in the order a run meets their subjects:
// settings, header and seed, folders, every pending package (present,
// verified, its archive unpackable, its FILEPATH.ID, room on the disks), and
// what the last run left behind.
#include "tools/check.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement.h"
#include "platform/files.h"
#include "tools/archive_check.h"
#include "tools/codepage.h"
#include "tools/values.h"
#include "tools/zrktool.h"
#include "util/run_log.h"
#include "util/text.h"

namespace tools {

namespace {

struct TFinding {
  bool Ok;
  std::string Item;
  std::string Detail;
};

class TChecks {
public:
  std::vector<TFinding> Findings;
  void Ok(std::string item, std::string detail) {
    Findings.push_back({true, std::move(item), std::move(detail)});
  }
  void Bad(std::string item, std::string detail) {
    Findings.push_back({false, std::move(item), std::move(detail)});
  }
  bool WouldFail() const {
    return std::any_of(Findings.begin(), Findings.end(), [](const TFinding &f) { return !f.Ok; });
  }
};

std::string Utf8(util::TShortString text) {
  return Cp1252ToUtf8(text.View());
}

std::string FolderText(util::TShortString folder) {
  util::TShortString t = util::TrimText(folder.View());
  return t.Empty() ? std::string() : util::ExtractFolder(util::AddBackslash(t.View()));
}

// Free bytes where `folder` lies; -1 when unknown.
std::int64_t FreeBytes(const std::string &folder) {
  std::error_code ec;
  auto space = std::filesystem::space(platform::NativePath(folder), ec);
  return ec ? -1 : static_cast<std::int64_t>(space.available);
}

bool ReadHeader(const std::string &path, std::int32_t seed, admin::TAdminHeader &header,
                std::int64_t &size) {
  size = FileSizeOf(path);
  platform::TFile file;
  std::uint32_t got = 0;
  if (size < static_cast<std::int64_t>(admin::AdminHeaderSize) || !file.OpenRead(path) ||
      !file.Read(header.Bytes, admin::AdminHeaderSize, got) || got != admin::AdminHeaderSize)
    return false;
  admin::ScrambleBuffer(header.Bytes, admin::AdminHeaderSize, seed);
  return true;
}

// One pending package: present, verified, unpackable, its marker file's
// folders there; adds the bytes it unpacks to `unpacked`.
void CheckPackage(TChecks &c, const admin::TAdminHeader &header,
                  const admin::TPackageRecord &record, TStdio &stdio, std::uint64_t &largest,
                  std::uint64_t &total) {
  const std::string name = record.PackageFileName().Str();
  const std::string item = "package " + Cp1252ToUtf8(name);
  const int dest = record.DestIndex();
  if (dest < 1 || dest > admin::DestFolderCount)
    c.Bad(item, "DestIndex " + std::to_string(dest) + " is outside 1 to 20 (result -3)");
  else if (std::string folder = FolderText(header.DestFolder(dest));
           !folder.empty() && !util::FolderExists(folder))
    c.Bad(item, "its destination folder " + std::to_string(dest) + " " + Cp1252ToUtf8(folder) +
                    " does not exist (result -4)");
  const std::string path = util::AddBackslash(header.DownloadFolder().View()) + name;
  if (!util::PathExists(path)) {
    c.Bad(item, Cp1252ToUtf8(path) + " is missing (result -1)");
    return;
  }
  const std::string zip = stdio.Scratch();
  packages::TPackageReport report;
  if (!packages::VerifyPackageStream(path, zip, report)) {
    c.Bad(item, "verification fails: " + packages::DescribePackageReport(report) + " (result -1)");
    return;
  }
  TArchiveReport archive = CheckArchive(zip);
  for (const std::string &problem : archive.Problems)
    c.Bad(item, Cp1252ToUtf8(problem) + " (result -2)");
  if (!archive.Problems.empty())
    return;
  largest = std::max(largest, archive.UnpackedBytes);
  total += archive.UnpackedBytes;
  const std::string &marker = archive.FilePathId;
  for (std::size_t at = 0; at + packages::FilePathEntrySize <= marker.size();
       at += packages::FilePathEntrySize) {
    const int index = static_cast<std::uint8_t>(marker[at + packages::FolderIndexOffset]);
    if (index < 1 || index > admin::DestFolderCount)
      continue;
    std::string folder = FolderText(header.DestFolder(index));
    if (!folder.empty() && !util::FolderExists(folder))
      c.Bad(item, "FILEPATH.ID sends files to destination folder " + std::to_string(index) + " " +
                      Cp1252ToUtf8(folder) + ", which does not exist (result -4)");
  }
  c.Ok(item, "verified, " + std::to_string(archive.Files.size()) + " files, " +
                 std::to_string(archive.UnpackedBytes) + " bytes unpacked" +
                 (archive.HasFilePathId ? ", with FILEPATH.ID" : ""));
}

void CheckSpace(TChecks &c, const std::string &folder, std::uint64_t needed, const char *what) {
  if (folder.empty() || needed == 0 || !util::FolderExists(folder))
    return;
  const std::int64_t free = FreeBytes(folder);
  if (free < 0)
    return;
  if (static_cast<std::uint64_t>(free) < needed)
    c.Bad("free space", Cp1252ToUtf8(folder) + " has " + std::to_string(free) + " bytes free, " +
                            what + " needs " + std::to_string(needed));
}

void Print(const TChecks &c, const TJson &lastRun, bool json, std::ostream &out) {
  if (json) {
    TJson j = TJson::object();
    j["WouldFail"] = c.WouldFail();
    j["Checks"] = TJson::array();
    for (const TFinding &f : c.Findings)
      j["Checks"].push_back({{"Ok", f.Ok}, {"Item", f.Item}, {"Detail", f.Detail}});
    j["LastRun"] = lastRun;
    PrintJson(out, j);
    return;
  }
  for (const TFinding &f : c.Findings)
    out << (f.Ok ? "ok    " : "FAIL  ") << f.Item << ": " << f.Detail << "\n";
  for (const auto &[key, value] : lastRun.items())
    out << "last run " << key << ": "
        << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
  const auto failures =
      std::count_if(c.Findings.begin(), c.Findings.end(), [](const TFinding &f) { return !f.Ok; });
  if (failures > 0)
    out << "The update would fail: " << failures << " problem" << (failures > 1 ? "s" : "")
        << ".\n";
  else
    out << "Nothing found that would stop the update.\n";
}

} // namespace

int CheckDataFolder(const std::string &dataFolder, bool json, TStdio &stdio, std::ostream &out) {
  if (!util::FolderExists(dataFolder))
    Fail(ExitBadInput, "data folder " + dataFolder + " does not exist");
  TChecks c;
  TJson lastRun = TJson::object();
  admin::DataFolder = util::TrimText(dataFolder);
  const std::string settingsPath = admin::SettingsPath();
  const std::int64_t settingsSize = FileSizeOf(settingsPath);
  auto finish = [&] {
    Print(c, lastRun, json, out);
    return c.WouldFail() ? ExitFailed : ExitOk;
  };

  if (settingsSize < 0 || !admin::ReadSettings()) {
    c.Bad("settings", Cp1252ToUtf8(settingsPath) + " cannot be read: " + OsErrorText() +
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
  c.Ok("settings", Cp1252ToUtf8(settingsPath) + ", AdminSeed " +
                       std::to_string(admin::Settings.AdminSeed()) + size);

  const std::int32_t seed = admin::Settings.AdminSeed();
  const std::string adminPath = admin::Settings.AdminFileName().Str();
  admin::TAdminHeader header;
  std::int64_t adminSize = 0;
  if (!ReadHeader(adminPath, seed, header, adminSize)) {
    c.Bad("administration file", Cp1252ToUtf8(adminPath) +
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
       Cp1252ToUtf8(adminPath) + ", version " + Utf8(header.VersionText()) + ", offered " +
           Utf8(header.OfferedVersionText()) +
           (header.UpdatePending() ? ", update pending" : ", nothing pending"));
  lastRun["LastResult"] = header.LastResult();
  lastRun["Meaning"] = RunResultMeaning(header.LastResult());
  lastRun["Date"] = FormatDayNumber(header.LastRunDate());
  lastRun["Time"] = FormatSecondOfDay(header.LastRunTime());
  {
    const std::string logPath =
        util::AddBackslash(admin::DataFolder.View()) + std::string(runlog::RunLogName);
    if (util::PathExists(logPath)) {
      auto blocks = runlog::SplitBlocks(ReadWholeFile(logPath, "run log"));
      if (!blocks.empty()) {
        std::string block = Cp1252ToUtf8(blocks.back());
        block.erase(std::remove(block.begin(), block.end(), '\r'), block.end());
        lastRun["LogBlock"] = block;
      }
    }
  }

  if (std::string problem = FolderRuleProblem(header); !problem.empty())
    c.Bad("folder rules", problem);
  const std::string download = FolderText(header.DownloadFolder());
  const std::string staging = FolderText(header.StagingFolder());
  for (const auto &[name, folder] :
       {std::pair<std::string, std::string>{"download folder", download},
        std::pair<std::string, std::string>{"staging folder", staging}})
    if (!folder.empty() && !util::FolderExists(folder))
      c.Bad(name, Cp1252ToUtf8(folder) + " does not exist");
  if (FolderText(header.DestFolder(1)).empty())
    c.Ok("destination folder 1", "blank: zrkupd takes the host's program folder from the registry");

  // Every pending package, in file order.
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  int pending = 0;
  std::uint64_t largest = 0, total = 0;
  std::set<int> destinations;
  while (admin::ReadNextPackage(file, adminPath, record, seed, first)) {
    if (record.PackageReady() == 0 || record.InstallPending() == 0)
      continue;
    ++pending;
    destinations.insert(record.DestIndex());
    if (header.UpdatePending())
      CheckPackage(c, header, record, stdio, largest, total);
  }
  file.Close();
  if (!header.UpdatePending())
    c.Ok("update", "UpdatePending is 0: zrkupd ends without doing anything");
  else if (pending == 0)
    c.Ok("update", "no package record is both ready and pending");
  CheckSpace(c, staging, largest, "the largest package unpacked");
  for (int d : destinations)
    if (d >= 1 && d <= admin::DestFolderCount)
      CheckSpace(c, FolderText(header.DestFolder(d)), total, "the update");
  return finish();
}

} // namespace tools
