// The commands of zrktool and their command line. Every record is read and
// written through admin/ and packages/; only what those lack for a tool (a
// header read that never writes, a package record written at its index) is
// done here, on the records' public layout, ScrambleBuffer and platform::TFile.
#include "tools/zrktool.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include <CLI/CLI.hpp>

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement.h"
#include "platform/console.h"
#include "platform/files.h"
#include "tools/archive_check.h"
#include "tools/check.h"
#include "tools/codepage.h"
#include "tools/record_fields.h"
#include "tools/tool_common.h"
#include "tools/update_build.h"
#include "tools/values.h"
#include "util/run_log.h"
#include "util/text.h"
#include "zrk_version.h"

namespace tools {

namespace {

// Paths reach the file functions in their code page; "-" stays itself.
const CLI::Validator PathArgument(
    [](std::string &path) {
      if (path != "-")
        path = platform::ToolPath(path);
      return std::string();
    },
    "PATH");

// The seed of the administration files: --seed, the settings of
// --data-folder, or the host's default.
struct TSeedOptions {
  std::int32_t Seed = admin::DefaultAdminSeed;
  std::string DataFolder;

  void AddTo(CLI::App *cmd) {
    auto *seed = cmd->add_option("--seed", Seed,
                                 "AdminSeed that scrambles the file (default " +
                                     std::to_string(admin::DefaultAdminSeed) + ")");
    auto *folder = cmd->add_option("--data-folder", DataFolder,
                                   "take AdminSeed from this data folder's settings file "
                                   "ZRKUPD.DAT, and the file's name when FILE is left out; "
                                   "a name without a folder is taken from the current "
                                   "folder, as zrkupd does, not from the data folder")
                       ->transform(PathArgument);
    seed->excludes(folder);
  }

  // Loads Settings from the data folder when one was given.
  void Resolve() {
    if (DataFolder.empty())
      return;
    if (!util::FolderExists(DataFolder))
      Fail(ExitBadInput, "data folder " + ShownPath(DataFolder) + " does not exist");
    admin::DataFolder = util::TrimText(DataFolder);
    std::string path = admin::SettingsPath();
    RequireFile(path, "settings file");
    if (!admin::ReadSettings())
      Fail(ExitBadInput, "settings file " + ShownPath(path) + " cannot be read");
    Seed = admin::Settings.AdminSeed();
  }

  std::string FileOr(const std::string &file, util::TShortString fromSettings,
                     const char *what) const {
    if (!file.empty())
      return file;
    if (DataFolder.empty())
      Fail(ExitBadInput, std::string("name the ") + what + " or give --data-folder");
    return fromSettings.Str();
  }
};

// The header as the file holds it. ReadAdminHeader is not used here: it fills
// in blank folders and may write the file, and a tool must show what is there.
admin::TAdminHeader ReadHeaderAsStored(const std::string &path, std::int32_t seed,
                                       std::int64_t &size) {
  size = RequireFile(path, "administration file");
  if (size < static_cast<std::int64_t>(admin::AdminHeaderSize))
    Fail(ExitBadInput, "administration file " + ShownPath(path) + " has " + std::to_string(size) +
                           " bytes, less than its " + std::to_string(admin::AdminHeaderSize) +
                           "-byte header");
  admin::TAdminHeader header;
  platform::TFile file;
  std::uint32_t got = 0;
  if (!file.OpenRead(path) || !file.Read(header.Bytes, admin::AdminHeaderSize, got) ||
      got != admin::AdminHeaderSize)
    Fail(ExitFailed, "administration file " + ShownPath(path) + " cannot be read");
  admin::ScrambleBuffer(header.Bytes, admin::AdminHeaderSize, seed);
  return header;
}

// ---------------------------------------------------------------------------
// settings

void SettingsShow(const std::string &target, bool json, std::ostream &out, std::ostream &err) {
  admin::TUpdateSettings settings;
  std::string path = target;
  std::int64_t size = 0;
  if (util::FolderExists(target)) {
    admin::DataFolder = util::TrimText(target);
    path = admin::SettingsPath();
    size = RequireFile(path, "settings file");
    if (!admin::ReadSettings())
      Fail(ExitFailed, "settings file " + ShownPath(path) + " cannot be read");
    settings = admin::Settings;
  } else {
    // A settings file by any name or place (a copy sent in by a user): the
    // same whole-record read and unscrambling as ReadSettings.
    std::string bytes = ReadWholeFile(path, "settings file");
    size = static_cast<std::int64_t>(bytes.size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), admin::SettingsRecordSize), settings.Bytes);
    admin::ScrambleBuffer(settings.Bytes, admin::SettingsRecordSize, admin::SettingsSeed);
  }
  TJson problems = TJson::array();
  if (size != static_cast<std::int64_t>(admin::SettingsRecordSize)) {
    const std::string warning = ShownPath(path) + " has " + std::to_string(size) +
                                " bytes, a settings record " +
                                std::to_string(admin::SettingsRecordSize);
    err << "warning: " << warning << "\n";
    problems.push_back(ProblemJson("settings file", warning, false));
  }
  if (!json) {
    PrintJson(out, FieldsToJson(SettingsFields(), settings.Bytes));
    return;
  }
  PrintJson(out, {{"Path", ShownPath(path)},
                  {"Settings", FieldsToJson(SettingsFields(), settings.Bytes)},
                  {"Problems", problems}});
}

std::string SourceText(const TJson &value, const char *name, std::size_t capacity) {
  if (!value.is_string())
    Fail(ExitBadInput, std::string(name) + ": expected a text");
  std::string text;
  if (!Utf8ToCp1252(value.get<std::string>(), text))
    Fail(ExitBadInput, std::string(name) + ": not UTF-8, or a character Windows-1252 cannot store");
  if (text.find('\0') != std::string::npos)
    Fail(ExitBadInput, std::string(name) + ": the text holds a NUL character");
  if (text.size() > capacity)
    Fail(ExitBadInput, std::string(name) + ": " + std::to_string(text.size()) +
                           " characters, at most " + std::to_string(capacity));
  return text;
}

std::int32_t SourceNumber(const TJson &value, const char *name) {
  if (!value.is_number_integer())
    Fail(ExitBadInput, std::string(name) + ": expected a whole number");
  if (value.is_number_unsigned()
          ? value.get<std::uint64_t>() > INT32_MAX
          : (value.get<std::int64_t>() < INT32_MIN || value.get<std::int64_t>() > INT32_MAX))
    Fail(ExitBadInput, std::string(name) + ": outside the 32-bit range");
  return static_cast<std::int32_t>(value.get<std::int64_t>());
}

const char *const SourceKeys[] = {
    "AdminFileName", "DownloadFileName", "DownloadFolder", "StagingFolder", "UpdateTitle",
    "DialogCaption", "BrandText",        "ExtraText1",     "ExtraText2",    "ExtraText3",
    "AdminSeed",     "OptionFlag1",      "OptionFlag2",    "OptionByte",    "ExtraNumber1",
    "ExtraNumber2",  "ExtraNumber3",     "DestFolders"};

admin::TSettingsSource ParseSettingsSource(const std::string &jsonText) {
  TJson json = TJson::parse(jsonText, nullptr, false);
  if (json.is_discarded())
    Fail(ExitBadInput, "the settings source is not valid JSON");
  if (!json.is_object())
    Fail(ExitBadInput, "the settings source must be a JSON object");
  admin::TSettingsSource s;
  struct TTextKey {
    const char *Name;
    std::string admin::TSettingsSource::*Field;
    std::size_t Capacity;
  };
  static const TTextKey texts[] = {
      {"AdminFileName", &admin::TSettingsSource::AdminFileName, 255},
      {"DownloadFileName", &admin::TSettingsSource::DownloadFileName, 255},
      {"DownloadFolder", &admin::TSettingsSource::DownloadFolder, 255},
      {"StagingFolder", &admin::TSettingsSource::StagingFolder, 255},
      {"UpdateTitle", &admin::TSettingsSource::UpdateTitle, admin::TitleCapacity},
      {"DialogCaption", &admin::TSettingsSource::DialogCaption, admin::TitleCapacity},
      {"BrandText", &admin::TSettingsSource::BrandText, admin::BrandTextCapacity},
      {"ExtraText1", &admin::TSettingsSource::ExtraText1, admin::ExtraText1Capacity},
      {"ExtraText2", &admin::TSettingsSource::ExtraText2, admin::ExtraTextCapacity},
      {"ExtraText3", &admin::TSettingsSource::ExtraText3, admin::ExtraTextCapacity},
  };
  struct TNumberKey {
    const char *Name;
    std::int32_t admin::TSettingsSource::*Field;
  };
  static const TNumberKey numbers[] = {
      {"AdminSeed", &admin::TSettingsSource::AdminSeed},
      {"OptionFlag1", &admin::TSettingsSource::OptionFlag1},
      {"OptionFlag2", &admin::TSettingsSource::OptionFlag2},
      {"OptionByte", &admin::TSettingsSource::OptionByte},
      {"ExtraNumber1", &admin::TSettingsSource::ExtraNumber1},
      {"ExtraNumber2", &admin::TSettingsSource::ExtraNumber2},
      {"ExtraNumber3", &admin::TSettingsSource::ExtraNumber3},
  };
  for (const auto &[key, value] : json.items()) {
    bool known = false;
    for (const auto &t : texts)
      if (key == t.Name) {
        s.*t.Field = SourceText(value, t.Name, t.Capacity);
        known = true;
      }
    for (const auto &n : numbers)
      if (key == n.Name) {
        s.*n.Field = SourceNumber(value, n.Name);
        known = true;
      }
    if (key == "DestFolders") {
      if (!value.is_array() || value.size() > admin::DestFolderCount)
        Fail(ExitBadInput, "DestFolders: expected a list of at most 20 texts (entries 1 to 20)");
      for (std::size_t i = 0; i < value.size(); ++i)
        s.DestFolders[i + 1] = SourceText(value[i], "DestFolders", 255);
      known = true;
    }
    if (!known)
      Fail(ExitBadInput, "unknown key \"" + key + "\" in the settings source");
  }
  return s;
}

} // namespace

admin::TSettingsSource SettingsSourceOf(const TJson &json) {
  if (!json.is_object())
    Fail(ExitBadInput, "the settings source must be a JSON object");
  std::string missing;
  for (const char *key : SourceKeys)
    if (!json.contains(key))
      missing += std::string(missing.empty() ? "" : ", ") + key;
  if (!missing.empty())
    Fail(ExitBadInput, "the settings source lacks " + missing);
  return ParseSettingsSource(json.dump());
}

namespace {

// Every key of a settings source, with the values that the current settings
// file and administration header hold: the base that --take-missing fills in.
TJson CurrentSource(std::ostream &err) {
  std::string path = admin::SettingsPath();
  RequireFile(path, "settings file");
  if (!admin::ReadSettings())
    Fail(ExitFailed, "settings file " + ShownPath(path) + " cannot be read: " + OsErrorText());
  const admin::TUpdateSettings &set = admin::Settings;
  TJson base = TJson::object();
  auto text = [](util::TShortString t) { return Cp1252ToUtf8(t.View()); };
  base["AdminFileName"] = text(set.AdminFileName());
  base["DownloadFileName"] = text(set.DownloadFileName());
  base["AdminSeed"] = set.AdminSeed();
  base["UpdateTitle"] = text(set.UpdateTitle());
  base["DialogCaption"] = text(set.DialogCaption());
  base["BrandText"] = text(set.BrandText());
  base["OptionByte"] = set.OptionByte();
  base["ExtraText1"] = text(set.ExtraText1());
  base["ExtraNumber1"] = set.ExtraNumber1();
  base["ExtraText2"] = text(set.ExtraText2());
  base["ExtraText3"] = text(set.ExtraText3());
  base["ExtraNumber2"] = set.ExtraNumber2();
  base["ExtraNumber3"] = set.ExtraNumber3();
  std::int64_t size = 0;
  std::string adminPath = set.AdminFileName().Str();
  admin::TAdminHeader header = ReadHeaderAsStored(adminPath, set.AdminSeed(), size);
  if (std::string why = SeedImplausibility(HeaderFields(), header.Bytes); !why.empty())
    Fail(ExitFailed, "the current administration header " + ShownPath(adminPath) +
                         " does not decode under the current AdminSeed (" + why +
                         "); give every field instead of --take-missing");
  base["DownloadFolder"] = text(header.DownloadFolder());
  base["StagingFolder"] = text(header.StagingFolder());
  base["DestFolders"] = TJson::array();
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    base["DestFolders"].push_back(text(header.DestFolder(i)));
  base["OptionFlag1"] = header.OptionFlag1();
  base["OptionFlag2"] = header.OptionFlag2();
  err << "taking the missing fields from " << ShownPath(path) << " and " << ShownPath(adminPath)
      << "\n";
  return base;
}

int SettingsStore(const std::string &dataFolder, const std::string &sourceText, bool takeMissing,
                  bool force, std::ostream &out, std::ostream &err) {
  if (!util::FolderExists(dataFolder))
    Fail(ExitBadInput, "data folder " + ShownPath(dataFolder) + " does not exist");
  admin::DataFolder = util::TrimText(dataFolder);
  TJson given = TJson::parse(sourceText, nullptr, false);
  if (given.is_discarded() || !given.is_object())
    Fail(ExitBadInput, "the settings source is not a JSON object");
  ParseSettingsSource(given.dump()); // refuses bad keys and values first
  TJson merged = takeMissing ? CurrentSource(err) : TJson::object();
  std::string missing;
  for (const char *key : SourceKeys) {
    if (given.contains(key))
      merged[key] = given[key];
    else if (!takeMissing)
      missing += std::string(missing.empty() ? "" : ", ") + key;
  }
  for (const auto &[key, value] : given.items())
    merged[key] = value;
  if (!missing.empty())
    Fail(ExitBadInput, "the settings source lacks " + missing +
                           "; give every field, or --take-missing to keep what the current "
                           "files hold");
  admin::TSettingsSource source = ParseSettingsSource(merged.dump());

  // Everything StoreSettings would stumble over is found before it writes.
  std::string adminPath = util::TrimText(source.AdminFileName).Str();
  if (adminPath.empty() || util::TrimText(source.DownloadFileName).Empty())
    Fail(ExitBadInput, "AdminFileName and DownloadFileName must not be blank");
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(adminPath, source.AdminSeed, size);
  std::string why = SeedImplausibility(HeaderFields(), header.Bytes);
  if (!why.empty() && !force)
    Fail(ExitBadInput, "the administration file " + ShownPath(adminPath) +
                           " does not decode under AdminSeed " + std::to_string(source.AdminSeed) +
                           " (" + why +
                           "); a wrong seed would spoil it (--force stores all the same)");
  SetSourceFolders(header, source);
  if (std::string problem = FolderRuleProblem(header, adminPath); !problem.empty())
    Fail(ExitBadInput, problem + "; nothing written");

  TSnapshot settingsBefore = TakeSnapshot(admin::SettingsPath());
  TSnapshot adminBefore = TakeSnapshot(adminPath);
  std::int32_t result = admin::StoreSettings(source);
  out << "StoreSettings " << result << ": " << admin::StoreSettingsResultText(result) << "\n";
  if (result == admin::StoreOk)
    return ExitOk;
  // A store that failed half way must not leave a new settings file beside
  // the old header, or the other way round.
  bool restored = Restore(settingsBefore) && Restore(adminBefore);
  out << (restored ? "nothing changed: both files are as they were\n"
                   : "the files could not be put back as they were: " + OsErrorText() + "\n");
  return ExitFailed;
}

// ---------------------------------------------------------------------------
// admin

// Refuses to write under a seed that does not decode the header: whatever is
// written then is scrambled under the wrong key and spoils the file.
void RequirePlausible(const std::string &path, const admin::TAdminHeader &header, std::int32_t seed,
                      bool force) {
  std::string why = SeedImplausibility(HeaderFields(), header.Bytes);
  if (!why.empty() && !force)
    Fail(ExitBadInput, ShownPath(path) + " does not decode under seed " + std::to_string(seed) +
                           " (" + why +
                           "): a wrong --seed? Nothing written (--force writes all the same)");
}

void RequireDestIndex(const admin::TPackageRecord &record) {
  if (record.DestIndex() < 1 || record.DestIndex() > admin::DestFolderCount)
    Fail(ExitBadInput, "DestIndex must be 1 to 20, not " + std::to_string(record.DestIndex()));
}

bool TouchesFolders(const std::vector<std::string> &assignments) {
  for (const std::string &a : assignments)
    for (const char *field : {"DestFolders", "DownloadFolder", "StagingFolder"})
      if (a.rfind(field, 0) == 0)
        return true;
  return false;
}

std::int64_t PackageCountOf(std::int64_t size) {
  return (size - static_cast<std::int64_t>(admin::AdminHeaderSize)) /
         static_cast<std::int64_t>(admin::PackageRecordSize);
}

std::int64_t TrailingBytesOf(std::int64_t size) {
  return (size - static_cast<std::int64_t>(admin::AdminHeaderSize)) %
         static_cast<std::int64_t>(admin::PackageRecordSize);
}

// Warnings go to standard error (and with `json` into "Problems") and never
// change the exit code: a show shows; check is where plausibility fails.
int AdminShow(const std::string &path, std::int32_t seed, bool showJson, std::ostream &out,
              std::ostream &err) {
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(path, seed, size);
  std::string implausible = SeedImplausibility(HeaderFields(), header.Bytes);
  TJson json = TJson::object();
  json["AdminSeed"] = seed;
  json["header"] = FieldsToJson(HeaderFields(), header.Bytes);
  json["packages"] = TJson::array();
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  while (admin::ReadNextPackage(file, path, record, seed, first))
    json["packages"].push_back(FieldsToJson(PackageFields(), record.Bytes));
  if (static_cast<std::int64_t>(json["packages"].size()) != PackageCountOf(size))
    Fail(ExitFailed, "administration file " + ShownPath(path) +
                         ": reading the package records stopped at " +
                         std::to_string(json["packages"].size()) + " of " +
                         std::to_string(PackageCountOf(size)));
  TJson problems = TJson::array();
  auto warn = [&](const std::string &warning) {
    err << "warning: " << warning << "\n";
    problems.push_back(ProblemJson("administration file", warning, false));
  };
  if (std::int64_t trailing = TrailingBytesOf(size)) {
    json["TrailingBytes"] = trailing;
    warn(std::to_string(trailing) + " bytes after the last whole package record");
  }
  if (!implausible.empty())
    warn("the header does not decode under seed " + std::to_string(seed) + " (" + implausible +
         "): a wrong --seed?");
  if (showJson)
    json["Problems"] = problems;
  PrintJson(out, json);
  return ExitOk;
}

void ApplyAll(const std::vector<TFieldSpec> &specs, const std::vector<std::string> &assignments,
              std::uint8_t *bytes) {
  for (const auto &a : assignments) {
    std::string error;
    if (!ApplyAssignment(specs, a, bytes, error))
      Fail(ExitBadInput, error);
  }
}

void AdminInit(const std::string &path, std::int32_t seed, bool force,
               const std::vector<std::string> &assignments, std::ostream &out) {
  if (util::FolderExists(path))
    Fail(ExitBadInput, ShownPath(path) + " is a folder");
  admin::TAdminHeader header;
  ApplyAll(HeaderFields(), assignments, header.Bytes);
  if (util::PathExists(path)) {
    if (!force)
      Fail(ExitBadInput, ShownPath(path) + " exists; give --force to replace it");
  }
  if (!admin::WriteAdminFile(path, header, {}, seed))
    Fail(ExitFailed, ShownPath(path) + " cannot be written: " + OsErrorText());
  out << "created " << ShownPath(path) << ": header only, " << admin::AdminHeaderSize << " bytes\n";
}

// A new record goes behind the last whole one; a file with a cut record at its
// end is refused, since a record appended there would be misaligned.
void AdminAddPackage(const std::string &path, std::int32_t seed, bool force,
                     const std::vector<std::string> &assignments, std::ostream &out) {
  std::int64_t size = 0;
  RequirePlausible(path, ReadHeaderAsStored(path, seed, size), seed, force);
  if (TrailingBytesOf(size) != 0)
    Fail(ExitBadInput, ShownPath(path) + " ends in " + std::to_string(TrailingBytesOf(size)) +
                           " bytes of a cut package record; nothing appended");
  admin::TPackageRecord record;
  record.SetInstallPending(1);
  record.SetPackageReady(1);
  record.SetDestIndex(1);
  ApplyAll(PackageFields(), assignments, record.Bytes);
  if (record.PackageFileName().Empty())
    Fail(ExitBadInput, "a package record needs PackageFileName=NAME");
  RequireDestIndex(record);
  if (!admin::WritePackage(path, PackageCountOf(size), record, seed))
    Fail(ExitFailed, ShownPath(path) + ": the package record cannot be written: " + OsErrorText());
  out << "added package record " << PackageCountOf(size) << " to " << ShownPath(path) << "\n";
}

void AdminSet(const std::string &path, std::int32_t seed, bool force, std::optional<int> package,
              const std::vector<std::string> &assignments, std::ostream &out) {
  if (assignments.empty())
    Fail(ExitBadInput, "nothing to set: give FIELD=VALUE arguments");
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(path, seed, size);
  RequirePlausible(path, header, seed, force);
  if (!package) {
    ApplyAll(HeaderFields(), assignments, header.Bytes);
    if (TouchesFolders(assignments))
      if (std::string problem = FolderRuleProblem(header, path); !problem.empty())
        Fail(ExitBadInput, problem + "; nothing written");
    if (!admin::WriteAdminHeader(path, header, seed))
      Fail(ExitFailed, ShownPath(path) + ": the header cannot be written: " + OsErrorText());
    out << "header of " << ShownPath(path) << " written\n";
    return;
  }
  if (*package < 0 || *package >= PackageCountOf(size))
    Fail(ExitBadInput, ShownPath(path) + " has " + std::to_string(PackageCountOf(size)) +
                           " package records (0 to n-1); there is no record " +
                           std::to_string(*package));
  // Read the record whole with the program's reader, change the named fields,
  // and write it back whole where it came from.
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  for (int i = 0; i <= *package; ++i)
    if (!admin::ReadNextPackage(file, path, record, seed, first))
      Fail(ExitFailed,
           ShownPath(path) + ": package record " + std::to_string(i) + " cannot be read");
  ApplyAll(PackageFields(), assignments, record.Bytes);
  RequireDestIndex(record);
  file.Close();
  if (!admin::WritePackage(path, *package, record, seed))
    Fail(ExitFailed, ShownPath(path) + ": package record " + std::to_string(*package) +
                         " cannot be written: " + OsErrorText());
  out << "package record " << *package << " of " << ShownPath(path) << " written\n";
}

// ---------------------------------------------------------------------------
// package

std::string PathKey(const std::string &path) {
  std::string native = platform::NativePath(path);
  if (platform::HostIsWindows())
    for (char &c : native)
      c = c == '/' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return native;
}

// A package stores its total length as a signed 32-bit number.
constexpr std::int64_t MaxArchiveSize = INT32_MAX;

// How an argument shows in messages: "-" is standard input or output.
std::string ShownArg(const std::string &arg, bool output) {
  if (arg == "-")
    return output ? "standard output" : "standard input";
  return ShownPath(arg);
}

// `zipArg` and `packageArg` as given; `zip` and `package` the files behind them.
int PackagePack(const std::string &zipArg, const std::string &zip, const std::string &packageArg,
                const std::string &package, std::int32_t chunkSize, std::ostream &out) {
  std::int64_t size = RequireFile(zip, "archive");
  if (chunkSize < 1 || chunkSize > packages::MaxChunkLength)
    Fail(ExitBadInput, "--chunk-size must be 1 to " + std::to_string(packages::MaxChunkLength));
  if (size > MaxArchiveSize)
    Fail(ExitBadInput, "the archive " + ShownArg(zipArg, false) + " has " + std::to_string(size) +
                           " bytes; a package holds less than 2 GiB (at most " +
                           std::to_string(MaxArchiveSize) + " bytes); nothing written");
  if (PathKey(zip) == PathKey(package))
    Fail(ExitBadInput, "the package must not replace the archive it is made from");
  if (!packages::WritePackageFile(zip, package, chunkSize)) {
    std::string why = OsErrorText();
    (void)platform::DeleteFile(package); // the failure is what gets reported
    Fail(ExitFailed, "the package " + ShownArg(packageArg, true) + " cannot be written: " + why);
  }
  out << "packed " << ShownArg(zipArg, false) << " into " << ShownArg(packageArg, true) << " ("
      << FileSizeOf(package) << " bytes)\n";
  return ExitOk;
}

// One package's verification (and with `test` its archive's), as text or as
// one element of the JSON list.
struct TPackageOutcome {
  bool Ok = false;
  TJson Json;
};

TPackageOutcome CheckOnePackage(const std::string &arg, bool test, bool json, TStdio &stdio,
                                std::ostream &out) {
  const std::string package = stdio.Input(arg);
  const std::string shown = ShownArg(arg, false);
  RequireFile(package, "package");
  packages::TPackageReport report;
  const std::string zip = test ? stdio.Scratch() : std::string();
  stdio.Progress.Show("verifying " + shown, true);
  TPackageOutcome o;
  o.Ok = packages::VerifyPackageStream(package, zip, report);
  stdio.Progress.Clear();
  o.Json = {{"Package", shown},
            {"Verified", o.Ok},
            {"Result", DescribeReport(report)},
            {"Chunks", report.ChunksVerified},
            {"Bytes", report.BytesVerified}};
  if (report.HeaderRead) {
    o.Json["TotalLength"] = report.TotalLength;
    o.Json["CrcSum"] = CrcText(report.CrcSum);
  }
  o.Json["Problems"] = TJson::array();
  if (!o.Ok)
    o.Json["Problems"].push_back(ProblemJson(shown, DescribeReport(report), true));
  if (!json) {
    out << shown << ": " << DescribeReport(report) << "\n";
    if (!test && report.HeaderRead)
      out << "header: totalLength " << report.TotalLength << ", crcSum " << CrcText(report.CrcSum)
          << "\n";
  }
  if (!test || !o.Ok)
    return o;
  TArchiveReport archive = CheckArchive(zip);
  o.Ok = archive.Problems.empty();
  TJson files = TJson::array();
  for (const std::string &f : archive.Files)
    files.push_back(Cp1252ToUtf8(f));
  o.Json["Archive"] = {{"Unpacks", o.Ok},
                       {"Files", files},
                       {"UnpackedBytes", archive.UnpackedBytes},
                       {"FilePathId", archive.HasFilePathId}};
  for (const std::string &problem : archive.Problems) {
    o.Json["Problems"].push_back(ProblemJson(shown, Cp1252ToUtf8(problem), true));
    if (!json)
      out << shown << ": " << Cp1252ToUtf8(problem) << "\n";
  }
  if (o.Ok && !json)
    out << shown << ": archive unpacks: " << archive.Files.size() << " files, "
        << archive.UnpackedBytes << " bytes" << (archive.HasFilePathId ? ", FILEPATH.ID" : "")
        << "\n";
  return o;
}

// Every package is verified (with `test` its archive tested as the unzip
// library unpacks it); the exit code says whether all passed.
int PackageCheck(const std::vector<std::string> &packageList, bool test, bool json, TStdio &stdio,
                 std::ostream &out) {
  bool allOk = true;
  TJson all = {{"Packages", TJson::array()}, {"Problems", TJson::array()}};
  for (const std::string &arg : packageList) {
    TPackageOutcome o = CheckOnePackage(arg, test, json, stdio, out);
    allOk = allOk && o.Ok;
    for (const TJson &problem : o.Json["Problems"])
      all["Problems"].push_back(problem);
    o.Json.erase("Problems");
    all["Packages"].push_back(std::move(o.Json));
  }
  if (json) {
    all["Ok"] = allOk;
    PrintJson(out, all);
  }
  return allOk ? ExitOk : ExitFailed;
}

int PackageExtract(const std::string &packageArg, const std::string &package,
                   const std::string &zipArg, const std::string &zip, std::ostream &out) {
  RequireFile(package, "package");
  if (PathKey(zip) == PathKey(package))
    Fail(ExitBadInput, "the archive must not replace the package it comes from");
  packages::TPackageReport report;
  bool ok = packages::VerifyPackageStream(package, zip, report);
  out << ShownArg(packageArg, false) << ": " << DescribeReport(report) << "\n";
  if (!ok) {
    // Half an archive is worse than none: nobody should unpack it by mistake.
    (void)platform::DeleteFile(zip);
    out << "no archive written\n";
    return ExitFailed;
  }
  out << "archive written to " << ShownArg(zipArg, true) << " (" << report.BytesVerified
      << " bytes)\n";
  return ExitOk;
}

// The marker file that sends single files of a package to other destination
// folders: one FilePathEntry per NAME=INDEX, in the order given.
int PackageFilePathId(const std::string &path, const std::vector<std::string> &entries,
                      std::ostream &out) {
  std::string bytes;
  for (const auto &e : entries) {
    std::size_t eq = e.rfind('=');
    if (eq == std::string::npos || eq == 0)
      Fail(ExitBadInput, "\"" + e + "\" is not NAME=INDEX");
    std::string name;
    if (!Utf8ToCp1252(e.substr(0, eq), name))
      Fail(ExitBadInput, "\"" + e + "\": not UTF-8, or a character Windows-1252 cannot store");
    if (name.size() > packages::FileNameCapacity)
      Fail(ExitBadInput, "\"" + e + "\": the name is longer than 255 characters");
    auto index = ParseInteger(e.substr(eq + 1), 0, 255);
    if (!index)
      Fail(ExitBadInput, "\"" + e + "\": the index is not a number from 0 to 255");
    std::string entry(packages::FilePathEntrySize, '\0');
    entry[packages::FileNameLengthOffset] = static_cast<char>(name.size());
    entry.replace(packages::FileNameCharsOffset, name.size(), name);
    entry[packages::FolderIndexOffset] = static_cast<char>(*index);
    bytes += entry;
  }
  platform::TFile file;
  std::uint32_t written = 0;
  if (!file.Create(path) ||
      !file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) ||
      written != bytes.size())
    Fail(ExitFailed, ShownPath(path) + " cannot be written: " + OsErrorText());
  out << "wrote " << ShownPath(path) << ": " << entries.size() << " entries\n";
  return ExitOk;
}

// ---------------------------------------------------------------------------
// download

void DownloadShow(const std::string &path, std::int32_t seed, std::ostream &out,
                  std::ostream &err) {
  std::int64_t size = RequireFile(path, "download record file");
  admin::TDownloadRecord record;
  bool complete = admin::ReadDownloadRecord(path, record, seed);
  if (!complete)
    err << "warning: " << ShownPath(path) << " has " << size << " bytes, a download record "
        << admin::DownloadRecordSize << "; the missing bytes show as key bytes\n";
  TJson json = TJson::object();
  json["AdminSeed"] = seed;
  json["DownloadRecordSize"] = admin::DownloadRecordSize;
  json["FileSize"] = size;
  json["Complete"] = complete;
  std::size_t nonZero = 0;
  for (auto b : record.Bytes)
    nonZero += b != 0;
  json["NonZeroBytes"] = nonZero;
  // The host's layout is opaque to us: a hex dump, 32 bytes a line.
  TJson lines = TJson::array();
  static const char digits[] = "0123456789abcdef";
  for (std::size_t at = 0; at < admin::DownloadRecordSize; at += 32) {
    std::string line = std::to_string(at);
    line.insert(0, 4 - std::min<std::size_t>(4, line.size()), '0');
    line += ":";
    for (std::size_t i = at; i < std::min(at + 32, admin::DownloadRecordSize); ++i) {
      line += ' ';
      line += digits[record.Bytes[i] >> 4];
      line += digits[record.Bytes[i] & 15];
    }
    lines.push_back(line);
  }
  json["Bytes"] = std::move(lines);
  PrintJson(out, json);
}

// ---------------------------------------------------------------------------
// log

int LogShow(const std::string &dataFolder, int last, bool json, std::ostream &out) {
  if (!util::FolderExists(dataFolder))
    Fail(ExitBadInput, "data folder " + ShownPath(dataFolder) + " does not exist");
  if (last < 1)
    Fail(ExitBadInput, "--last must be 1 or more");
  std::string path =
      util::AddBackslash(util::TrimText(dataFolder).View()) + std::string(runlog::RunLogName);
  TJson shown = {
      {"RunLog", ShownPath(path)}, {"Runs", TJson::array()}, {"Problems", TJson::array()}};
  if (!util::PathExists(path)) {
    const std::string problem =
        "no run log " + ShownPath(path) + ": zrkupd has not run with this data folder";
    if (!json)
      Fail(ExitFailed, problem);
    shown["Problems"].push_back(ProblemJson("run log", problem, true));
    PrintJson(out, shown);
    return ExitFailed;
  }
  auto blocks = runlog::SplitBlocks(ReadWholeFile(path, "run log"));
  std::size_t from = blocks.size() > static_cast<std::size_t>(last)
                         ? blocks.size() - static_cast<std::size_t>(last)
                         : 0;
  for (std::size_t i = from; i < blocks.size(); ++i) {
    std::string text = Cp1252ToUtf8(blocks[i]);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (json)
      shown["Runs"].push_back(text);
    else
      out << text;
  }
  if (json)
    PrintJson(out, shown);
  return ExitOk;
}

const char *const FieldsHelp =
    "FIELD=VALUE assignments. Lists take an index from 1: DestFolders[3]=C:\\X. Texts are UTF-8 "
    "and are stored as Windows-1252; dates take a day number, YYYY-MM-DD or DD.MM.YYYY; times "
    "hh:mm:ss or seconds.";

// An unknown command word gets a clear message with the words that exist,
// instead of the parser's "arguments were not expected".
void RequireKnownCommands(CLI::App &app, const std::vector<std::string> &args) {
  CLI::App *level = &app;
  std::string path = "zrktool";
  for (const std::string &word : args) {
    auto subs = level->get_subcommands([](CLI::App *) { return true; });
    if (subs.empty() || word.empty() || word[0] == '-')
      return;
    CLI::App *found = nullptr;
    std::string known;
    for (CLI::App *sub : subs) {
      known += (known.empty() ? "" : ", ") + sub->get_name();
      if (sub->get_name() == word)
        found = sub;
    }
    if (found == nullptr)
      Fail(ExitBadInput, "unknown command \"" + word + "\" for " + path + "; commands: " + known +
                             " (" + path + " --help says more)");
    level = found;
    path += " " + word;
  }
}

} // namespace

int RunZrkTool(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
               std::ostream &err, std::ostream *terminal) {
  try {
    TStdio stdio(in, out, terminal);
    CLI::App app{"zrktool: shows and edits the files that the host shares with zrkupd, and makes, "
                 "verifies and unpacks package files.",
                 "zrktool"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "zrktool " ZRK_VERSION_TEXT " (commit " ZRK_COMMIT ")");
    // A command's work runs once the whole command line has been parsed.
    std::function<int()> action;
    auto OnRun = [&action](CLI::App *command, std::function<int()> run) {
      command->callback([&action, run] { action = run; });
    };

    // settings
    auto *settings = app.add_subcommand("settings", "the settings file ZRKUPD.DAT");
    settings->require_subcommand(1);
    std::string settingsTarget, storeFolder, storeSource;
    auto *settingsShow =
        settings->add_subcommand("show", "print the settings record as JSON (texts in UTF-8)");
    settingsShow
        ->add_option("DATAFOLDER_OR_FILE", settingsTarget,
                     "a data folder (its ZRKUPD.DAT is read) or a settings file")
        ->transform(PathArgument)
        ->required();
    bool showJson = false;
    settingsShow->add_flag("--json", showJson,
                           "the record under \"Settings\", with \"Path\" and \"Problems\"");
    OnRun(settingsShow, [&] {
      SettingsShow(settingsTarget, showJson, out, err);
      return ExitOk;
    });
    auto *settingsStore = settings->add_subcommand(
        "store", "build the settings file from a TSettingsSource given as JSON, through "
                 "StoreSettings, and print its result code and meaning");
    settingsStore->footer(
        "SOURCE.json is an object with the TSettingsSource field names: AdminFileName, "
        "DownloadFileName, DownloadFolder, StagingFolder, UpdateTitle, DialogCaption, BrandText, "
        "ExtraText1-3 (texts), AdminSeed, OptionFlag1, OptionFlag2, OptionByte, ExtraNumber1-3 "
        "(numbers), DestFolders (a list of up to 20 texts, entries 1 to 20). Every key is required "
        "unless --take-missing is given. File names without a folder are taken relative to the "
        "current folder, as zrkupd does. The administration file must exist already (zrktool "
        "admin init). The folders must obey the program's folder rules. When the store fails, "
        "both files are left as they were.");
    settingsStore->add_option("DATAFOLDER", storeFolder, "folder for ZRKUPD.DAT")
        ->transform(PathArgument)
        ->required();
    settingsStore
        ->add_option("SOURCE", storeSource,
                     "the settings source, JSON; - reads it from "
                     "standard input")
        ->transform(PathArgument)
        ->required();
    bool takeMissing = false, storeForce = false;
    settingsStore->add_flag("--take-missing", takeMissing,
                            "fields the source leaves out keep the values of the current settings "
                            "file and administration header");
    settingsStore->add_flag("--force", storeForce,
                            "store even when the administration file does not decode under the "
                            "source's AdminSeed");
    OnRun(settingsStore, [&] {
      std::string text = ReadWholeFile(stdio.Input(storeSource), "source");
      return SettingsStore(storeFolder, text, takeMissing, storeForce, out, err);
    });

    // admin
    auto *adminCmd = app.add_subcommand("admin", "the administration file (UPDADMIN.VAB)");
    adminCmd->require_subcommand(1);
    std::string adminFile;
    std::vector<std::string> assignments;
    bool force = false;
    std::optional<int> packageIndex;
    int packageIndexValue = 0;
    TSeedOptions seeds;

    auto *adminShow = adminCmd->add_subcommand(
        "show", "print the header (under \"header\") and every package record, in file order "
                "(under \"packages\"), as JSON");
    adminShow
        ->add_option("FILE", adminFile,
                     "the administration file (default with --data-folder: AdminFileName "
                     "of the settings)")
        ->transform(PathArgument);
    seeds.AddTo(adminShow);
    adminShow->add_flag("--json", showJson, "add the warnings under \"Problems\"");
    adminShow->footer("A header that does not decode under the seed, or a cut record at the end, "
                      "is shown and warned about on standard error; the exit code stays 0 "
                      "(zrktool check fails on it).");
    OnRun(adminShow, [&] {
      seeds.Resolve();
      return AdminShow(
          seeds.FileOr(adminFile, admin::Settings.AdminFileName(), "administration file"),
          seeds.Seed, showJson, out, err);
    });
    // With --data-folder the file may be left out; the parser then takes the
    // first FIELD=VALUE for it, in the form a path has.
    auto adminTarget = [&] {
      if (!seeds.DataFolder.empty() && adminFile.find('=') != std::string::npos &&
          !util::PathExists(adminFile)) {
        assignments.insert(assignments.begin(), platform::ToolPathText(adminFile));
        adminFile.clear();
      }
      return seeds.FileOr(adminFile, admin::Settings.AdminFileName(), "administration file");
    };

    auto *adminInit = adminCmd->add_subcommand(
        "init", "make a new administration file: a header (all zeros but the fields given) and "
                "no package records");
    adminInit->add_option("FILE", adminFile, "the new administration file")
        ->transform(PathArgument)
        ->required();
    seeds.AddTo(adminInit);
    adminInit->add_flag("--force", force, "replace an existing file");
    adminInit->add_option("FIELDS", assignments, FieldsHelp);
    OnRun(adminInit, [&] {
      seeds.Resolve();
      AdminInit(adminFile, seeds.Seed, force, assignments, out);
      return ExitOk;
    });

    auto *adminAdd = adminCmd->add_subcommand(
        "add-package", "append a package record; InstallPending, PackageReady and DestIndex "
                       "start at 1, everything else at 0");
    adminAdd
        ->add_option("FILE", adminFile,
                     "the administration file (default with --data-folder: AdminFileName of the "
                     "settings)")
        ->transform(PathArgument);
    seeds.AddTo(adminAdd);
    adminAdd->add_flag("--force", force,
                       "write even when the header does not decode under the seed");
    adminAdd->add_option("FIELDS", assignments, FieldsHelp);
    adminAdd->footer("Fields: PackageFileName (required), InstalledInfo[1..3], OfferedInfo[1..3], "
                     "InstallPending, DestIndex, PackageReady.");
    OnRun(adminAdd, [&] {
      seeds.Resolve();
      const std::string file = adminTarget();
      AdminAddPackage(file, seeds.Seed, force, assignments, out);
      return ExitOk;
    });

    auto *adminSet = adminCmd->add_subcommand(
        "set", "change fields of the header, or of package record N with --package N; every "
               "other byte stays as it is");
    adminSet
        ->add_option("FILE", adminFile,
                     "the administration file (default with --data-folder: AdminFileName of the "
                     "settings)")
        ->transform(PathArgument);
    seeds.AddTo(adminSet);
    adminSet->add_flag("--force", force,
                       "write even when the header does not decode under the seed");
    auto *packageOption = adminSet->add_option("--package", packageIndexValue,
                                               "package record number, from 0 in file order");
    adminSet->add_option("FIELDS", assignments, FieldsHelp);
    adminSet->footer("Header fields: DestFolders[1..20], DownloadFolder, StagingFolder, "
                     "VersionText, VersionDate, UpdatePending, VersionNumber, VersionDate2, "
                     "LastResult, LastRunDate, LastRunTime, OptionFlag1, OptionFlag2, "
                     "OfferedVersionText, OfferedVersionDate.");
    OnRun(adminSet, [&] {
      seeds.Resolve();
      if (packageOption->count() > 0)
        packageIndex = packageIndexValue;
      const std::string file = adminTarget();
      AdminSet(file, seeds.Seed, force, packageIndex, assignments, out);
      return ExitOk;
    });

    // package
    auto *packageCmd = app.add_subcommand("package", "package files (chunked CRC-32 containers)");
    packageCmd->require_subcommand(1);
    std::string zipPath, packagePath;
    std::int32_t chunkSize = packages::MaxChunkLength;
    auto *pack = packageCmd->add_subcommand("pack", "make a package file of a ZIP archive");
    pack->add_option("ZIP", zipPath, "the archive, less than 2 GiB; - for standard input")
        ->transform(PathArgument)
        ->required();
    pack->add_option("PACKAGE", packagePath, "the package file to write; - for standard output")
        ->transform(PathArgument)
        ->required();
    pack->add_option("--chunk-size", chunkSize, "payload bytes per chunk, 1 to 65000 (default)");
    OnRun(pack, [&] {
      std::string zip = stdio.Input(zipPath);
      std::string package = stdio.Output(packagePath);
      int code = PackagePack(zipPath, zip, packagePath, package, chunkSize, stdio.Messages(err));
      stdio.Finish();
      return code;
    });
    auto *verify = packageCmd->add_subcommand(
        "verify", "check every chunk and both totals; say what is wrong and where");
    std::vector<std::string> packageList;
    verify->add_option("PACKAGES", packageList, "package files; - reads one from standard input")
        ->transform(PathArgument)
        ->required();
    bool packageJson = false;
    verify->add_flag("--json", packageJson, "the outcome as JSON");
    OnRun(verify, [&] { return PackageCheck(packageList, false, packageJson, stdio, out); });
    auto *test = packageCmd->add_subcommand(
        "test", "verify packages and test their archives as the unzip library unpacks them");
    test->add_option("PACKAGES", packageList, "package files; - reads one from standard input")
        ->transform(PathArgument)
        ->required();
    test->add_flag("--json", packageJson, "the outcome as JSON");
    OnRun(test, [&] { return PackageCheck(packageList, true, packageJson, stdio, out); });
    auto *extract = packageCmd->add_subcommand(
        "extract", "verify a package and write its ZIP archive (nothing is left on failure)");
    extract->add_option("PACKAGE", packagePath, "the package file; - for standard input")
        ->transform(PathArgument)
        ->required();
    extract->add_option("ZIP", zipPath, "the archive to write; - for standard output")
        ->transform(PathArgument)
        ->required();
    OnRun(extract, [&] {
      std::string package = stdio.Input(packagePath);
      std::string zip = stdio.Output(zipPath);
      int code = PackageExtract(packagePath, package, zipPath, zip, stdio.Messages(err));
      if (code == ExitOk)
        stdio.Finish();
      return code;
    });

    std::vector<std::string> markerEntries;
    auto *marker = packageCmd->add_subcommand(
        "filepath-id", "write a FILEPATH.ID marker file, to put into a package's ZIP");
    marker->add_option("FILE", packagePath, "the marker file to write")
        ->transform(PathArgument)
        ->required();
    marker
        ->add_option("ENTRIES", markerEntries, "NAME=INDEX (NAME without a folder, INDEX 0 to 255)")
        ->required();
    marker->footer(
        "zrkupd places the unpacked files in the order the folder lists them (name order on NTFS). "
        "A file with an entry whose INDEX is 1 to "
        "20 goes to that destination folder, and so does every file after it that has no entry "
        "of its own; before the first such file, files go to the package record's DestIndex. An "
        "entry with another INDEX counts as none. The first entry for a name counts. To send "
        "one file elsewhere, give the file after it an entry with the package's DestIndex.");
    OnRun(marker, [&] { return PackageFilePathId(packagePath, markerEntries, out); });

    // update
    auto *updateCmd = app.add_subcommand("update", "whole updates");
    updateCmd->require_subcommand(1);
    std::string buildSpec, buildOut;
    bool dryRun = false;
    auto *build = updateCmd->add_subcommand(
        "build", "make a complete update from folders of files: archives, packages, the "
                 "administration file with its records, the settings; then check it");
    build->add_option("SPEC", buildSpec, "the update, JSON; - reads it from standard input")
        ->transform(PathArgument)
        ->required();
    build->add_option("OUTDIR", buildOut, "the data folder: ZRKUPD.DAT goes here")
        ->transform(PathArgument)
        ->required();
    build->add_flag("--dry-run", dryRun, "make and test the packages, write nothing else");
    build->footer(
        "SPEC: {\"Settings\": {every key of a settings source, see settings store}, \"Header\": "
        "{FIELD: VALUE of the header, e.g. \"OfferedVersionText\": \"4.0\"}, \"Packages\": "
        "[{\"PackageFileName\": \"PROG.PKG\", \"DestIndex\": 1, \"Folder\": \"files/prog\", "
        "\"FilePaths\": {\"HILFE.TXT\": 3}}]}. Folders are relative to the folder of SPEC and "
        "hold plain files only. The administration file goes where AdminFileName points (a "
        "name without a folder: the current folder) and holds the header and one record per "
        "package, pending; the packages go into DownloadFolder.");
    OnRun(build, [&] { return BuildUpdate(buildSpec, buildOut, dryRun, stdio, out); });

    // check
    std::string checkFolder;
    bool checkJson = false;
    auto *check = app.add_subcommand(
        "check", "find what would make the next update run of a data folder fail: exit code 0, "
                 "or 1 when it would fail");
    check->add_option("DATAFOLDER", checkFolder, "the data folder (its ZRKUPD.DAT)")
        ->transform(PathArgument)
        ->required();
    check->add_flag("--json", checkJson, "the report as JSON");
    check->footer("Run it from the folder zrkupd starts in: administration file names without a "
                  "folder are taken from the current folder, as zrkupd does.");
    OnRun(check, [&] { return CheckDataFolder(checkFolder, checkJson, stdio, out); });

    // log
    auto *logCmd = app.add_subcommand("log", "the run log ZRKUPD.LOG that zrkupd keeps");
    logCmd->require_subcommand(1);
    std::string logFolder;
    int logLast = 1;
    auto *logShow =
        logCmd->add_subcommand("show", "print the last run's block of the run log (in UTF-8)");
    logShow->add_option("DATAFOLDER", logFolder, "the data folder that holds ZRKUPD.LOG")
        ->transform(PathArgument)
        ->required();
    logShow->add_option("--last", logLast, "the last N runs (default 1)");
    bool logJson = false;
    logShow->add_flag("--json", logJson, "the runs' blocks as a JSON list under \"Runs\"");
    OnRun(logShow, [&] { return LogShow(logFolder, logLast, logJson, out); });

    // download
    auto *downloadCmd = app.add_subcommand("download", "the download record file (UPDDOWNL.VAB)");
    downloadCmd->require_subcommand(1);
    std::string downloadFile;
    auto *downloadShow = downloadCmd->add_subcommand(
        "show", "print the download record (opaque to zrkupd) as a hex dump in JSON");
    downloadShow
        ->add_option("FILE", downloadFile,
                     "the download record file (default with --data-folder: "
                     "DownloadFileName of the settings)")
        ->transform(PathArgument);
    seeds.AddTo(downloadShow);
    OnRun(downloadShow, [&] {
      seeds.Resolve();
      DownloadShow(
          seeds.FileOr(downloadFile, admin::Settings.DownloadFileName(), "download record file"),
          seeds.Seed, out, err);
      return ExitOk;
    });

    if (args.empty()) {
      out << app.help();
      return ExitOk;
    }
    RequireKnownCommands(app, args);
    try {
      std::vector<std::string> reversed(args.rbegin(), args.rend());
      app.parse(reversed);
    } catch (const CLI::ParseError &e) {
      int code = app.exit(e, out, err);
      return code == 0 ? ExitOk : ExitBadInput;
    }
    if (!action)
      return ExitBadInput;
    return action();
  } catch (const TFailure &f) {
    err << "zrktool: " << f.Message << "\n";
    return f.Code;
  } catch (const std::exception &e) {
    err << "zrktool: internal error: " << e.what() << "\n";
    return ExitInternal;
  } catch (...) {
    err << "zrktool: internal error\n";
    return ExitInternal;
  }
}

} // namespace tools
