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
#include "platform/files.h"
#include "tools/codepage.h"
#include "tools/record_fields.h"
#include "tools/values.h"
#include "util/text.h"

namespace tools {

namespace {

// A failure that ends the command with a message and an exit code.
struct TFailure {
  int Code;
  std::string Message;
};

[[noreturn]] void Fail(int code, std::string message) {
  throw TFailure{code, std::move(message)};
}

// Indented JSON, but a short list of plain values stays on one line, so that
// "InstalledInfo": [0, 0, 0] does not take five.
void DumpJson(std::string &text, const TJson &json, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (json.is_object() && !json.empty()) {
    text += "{\n";
    bool first = true;
    for (const auto &[key, value] : json.items()) {
      text += first ? "" : ",\n";
      first = false;
      text += pad + "  " + TJson(key).dump() + ": ";
      DumpJson(text, value, indent + 2);
    }
    text += "\n" + pad + "}";
    return;
  }
  if (json.is_array() && !json.empty()) {
    std::string line = "[";
    bool plain = true;
    for (const auto &value : json) {
      plain = plain && value.is_primitive();
      line += (line.size() > 1 ? ", " : "") + value.dump();
    }
    line += "]";
    if (plain && line.size() + static_cast<std::size_t>(indent) <= 80) {
      text += line;
      return;
    }
    text += "[\n";
    for (std::size_t i = 0; i < json.size(); ++i) {
      text += pad + "  ";
      DumpJson(text, json[i], indent + 2);
      text += i + 1 < json.size() ? ",\n" : "\n";
    }
    text += pad + "]";
    return;
  }
  text += json.dump();
}

void PrintJson(std::ostream &out, const TJson &json) {
  std::string text;
  DumpJson(text, json, 0);
  out << text << "\n";
}

std::int64_t FileSizeOf(const std::string &path) {
  platform::TFile file;
  std::int64_t size = -1;
  if (!file.OpenRead(path) || !file.Size(size))
    return -1;
  return size;
}

std::int64_t RequireFile(const std::string &path, const char *what) {
  if (util::FolderExists(path))
    Fail(ExitBadInput, std::string(what) + " " + path + " is a folder");
  std::int64_t size = FileSizeOf(path);
  if (size < 0)
    Fail(ExitBadInput, std::string(what) + " " + path + " cannot be opened (error " +
                           std::to_string(platform::LastError()) + ")");
  return size;
}

std::string ReadWholeFile(const std::string &path, const char *what) {
  std::int64_t size = RequireFile(path, what);
  if (size > 16 * 1024 * 1024)
    Fail(ExitBadInput, std::string(what) + " " + path + " is too large");
  platform::TFile file;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::uint32_t got = 0;
  if (!file.OpenRead(path) ||
      (size > 0 && (!file.Read(bytes.data(), static_cast<std::uint32_t>(size), got) ||
                    got != static_cast<std::uint32_t>(size))))
    Fail(ExitBadInput, std::string(what) + " " + path + " cannot be read");
  return bytes;
}

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
                                   "take AdminSeed (and the file's name when FILE is left out) "
                                   "from this data folder's settings file ZRKUPD.DAT");
    seed->excludes(folder);
  }

  // Loads Settings from the data folder when one was given.
  void Resolve() {
    if (DataFolder.empty())
      return;
    if (!util::FolderExists(DataFolder))
      Fail(ExitBadInput, "data folder " + DataFolder + " does not exist");
    admin::DataFolder = util::TrimText(DataFolder);
    std::string path = admin::SettingsPath();
    RequireFile(path, "settings file");
    if (!admin::ReadSettings())
      Fail(ExitBadInput, "settings file " + path + " cannot be read");
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

// ---------------------------------------------------------------------------
// settings

void SettingsShow(const std::string &target, std::ostream &out, std::ostream &err) {
  admin::TUpdateSettings settings;
  std::string path = target;
  std::int64_t size = 0;
  if (util::FolderExists(target)) {
    admin::DataFolder = util::TrimText(target);
    path = admin::SettingsPath();
    size = RequireFile(path, "settings file");
    if (!admin::ReadSettings())
      Fail(ExitFailed, "settings file " + path + " cannot be read");
    settings = admin::Settings;
  } else {
    // A settings file by any name or place (a copy sent in by a user): the
    // same whole-record read and unscrambling as ReadSettings.
    std::string bytes = ReadWholeFile(path, "settings file");
    size = static_cast<std::int64_t>(bytes.size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), admin::SettingsRecordSize), settings.Bytes);
    admin::ScrambleBuffer(settings.Bytes, admin::SettingsRecordSize, admin::SettingsSeed);
  }
  if (size != static_cast<std::int64_t>(admin::SettingsRecordSize))
    err << "warning: " << path << " has " << size << " bytes, a settings record "
        << admin::SettingsRecordSize << "\n";
  PrintJson(out, FieldsToJson(SettingsFields(), settings.Bytes));
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

int SettingsStore(const std::string &dataFolder, const std::string &sourcePath, std::ostream &out) {
  if (!util::FolderExists(dataFolder))
    Fail(ExitBadInput, "data folder " + dataFolder + " does not exist");
  admin::TSettingsSource source = ParseSettingsSource(ReadWholeFile(sourcePath, "source"));
  admin::DataFolder = util::TrimText(dataFolder);
  std::int32_t result = admin::StoreSettings(source);
  out << "StoreSettings " << result << ": " << admin::StoreSettingsResultText(result) << "\n";
  if (result == admin::StoreHeaderReadFailed)
    out << "(the administration file " << Cp1252ToUtf8(admin::Settings.AdminFileName().View())
        << " must exist first: zrktool admin init)\n";
  return result == admin::StoreOk ? ExitOk : ExitFailed;
}

// ---------------------------------------------------------------------------
// admin

// The header as the file holds it. ReadAdminHeader is not used here: it fills
// in blank folders and may write the file, and a tool must show what is there.
admin::TAdminHeader ReadHeaderAsStored(const std::string &path, std::int32_t seed,
                                       std::int64_t &size) {
  size = RequireFile(path, "administration file");
  if (size < static_cast<std::int64_t>(admin::AdminHeaderSize))
    Fail(ExitBadInput, "administration file " + path + " has " + std::to_string(size) +
                           " bytes, less than its " + std::to_string(admin::AdminHeaderSize) +
                           "-byte header");
  admin::TAdminHeader header;
  platform::TFile file;
  std::uint32_t got = 0;
  if (!file.OpenRead(path) || !file.Read(header.Bytes, admin::AdminHeaderSize, got) ||
      got != admin::AdminHeaderSize)
    Fail(ExitFailed, "administration file " + path + " cannot be read");
  admin::ScrambleBuffer(header.Bytes, admin::AdminHeaderSize, seed);
  return header;
}

std::int64_t PackageCountOf(std::int64_t size) {
  return (size - static_cast<std::int64_t>(admin::AdminHeaderSize)) /
         static_cast<std::int64_t>(admin::PackageRecordSize);
}

std::int64_t TrailingBytesOf(std::int64_t size) {
  return (size - static_cast<std::int64_t>(admin::AdminHeaderSize)) %
         static_cast<std::int64_t>(admin::PackageRecordSize);
}

void AdminShow(const std::string &path, std::int32_t seed, std::ostream &out, std::ostream &err) {
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(path, seed, size);
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
    Fail(ExitFailed, "administration file " + path + ": reading the package records stopped at " +
                         std::to_string(json["packages"].size()) + " of " +
                         std::to_string(PackageCountOf(size)));
  if (std::int64_t trailing = TrailingBytesOf(size)) {
    json["TrailingBytes"] = trailing;
    err << "warning: " << trailing << " bytes after the last whole package record\n";
  }
  PrintJson(out, json);
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
    Fail(ExitBadInput, path + " is a folder");
  admin::TAdminHeader header;
  ApplyAll(HeaderFields(), assignments, header.Bytes);
  if (util::PathExists(path)) {
    if (!force)
      Fail(ExitBadInput, path + " exists; give --force to replace it");
    if (!platform::DeleteFile(path))
      Fail(ExitFailed,
           path + " cannot be deleted (error " + std::to_string(platform::LastError()) + ")");
  }
  if (!admin::WriteAdminHeader(path, header, seed))
    Fail(ExitFailed,
         path + " cannot be written (error " + std::to_string(platform::LastError()) + ")");
  out << "created " << path << ": header only, " << admin::AdminHeaderSize << " bytes\n";
}

// A new record goes behind the last whole one; a file with a cut record at its
// end is refused, since a record appended there would be misaligned.
void AdminAddPackage(const std::string &path, std::int32_t seed,
                     const std::vector<std::string> &assignments, std::ostream &out) {
  std::int64_t size = 0;
  ReadHeaderAsStored(path, seed, size);
  if (TrailingBytesOf(size) != 0)
    Fail(ExitBadInput, path + " ends in " + std::to_string(TrailingBytesOf(size)) +
                           " bytes of a cut package record; nothing appended");
  admin::TPackageRecord record;
  record.SetInstallPending(1);
  record.SetPackageReady(1);
  record.SetDestIndex(1);
  ApplyAll(PackageFields(), assignments, record.Bytes);
  if (record.PackageFileName().Empty())
    Fail(ExitBadInput, "a package record needs PackageFileName=NAME");
  admin::ScrambleBuffer(record.Bytes, admin::PackageRecordSize, seed);
  platform::TFile file;
  std::uint32_t written = 0;
  if (!file.OpenShared(path) || !file.Seek(size) ||
      !file.Write(record.Bytes, admin::PackageRecordSize, written) ||
      written != admin::PackageRecordSize)
    Fail(ExitFailed, path + ": the package record cannot be written (error " +
                         std::to_string(platform::LastError()) + ")");
  out << "added package record " << PackageCountOf(size) << " to " << path << "\n";
}

void AdminSet(const std::string &path, std::int32_t seed, std::optional<int> package,
              const std::vector<std::string> &assignments, std::ostream &out) {
  if (assignments.empty())
    Fail(ExitBadInput, "nothing to set: give FIELD=VALUE arguments");
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(path, seed, size);
  if (!package) {
    ApplyAll(HeaderFields(), assignments, header.Bytes);
    if (!admin::WriteAdminHeader(path, header, seed))
      Fail(ExitFailed, path + ": the header cannot be written (error " +
                           std::to_string(platform::LastError()) + ")");
    out << "header of " << path << " written\n";
    return;
  }
  if (*package < 0 || *package >= PackageCountOf(size))
    Fail(ExitBadInput, path + " has " + std::to_string(PackageCountOf(size)) +
                           " package records (0 to n-1); there is no record " +
                           std::to_string(*package));
  // Read the record whole with the program's reader, change the named fields,
  // and write it back whole where it came from.
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  for (int i = 0; i <= *package; ++i)
    if (!admin::ReadNextPackage(file, path, record, seed, first))
      Fail(ExitFailed, path + ": package record " + std::to_string(i) + " cannot be read");
  ApplyAll(PackageFields(), assignments, record.Bytes);
  admin::ScrambleBuffer(record.Bytes, admin::PackageRecordSize, seed);
  std::int64_t position =
      admin::AdminHeaderSize + static_cast<std::int64_t>(*package) * admin::PackageRecordSize;
  std::uint32_t written = 0;
  if (!file.Seek(position) || !file.Write(record.Bytes, admin::PackageRecordSize, written) ||
      written != admin::PackageRecordSize)
    Fail(ExitFailed, path + ": package record " + std::to_string(*package) +
                         " cannot be written (error " + std::to_string(platform::LastError()) +
                         ")");
  out << "package record " << *package << " of " << path << " written\n";
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

int PackagePack(const std::string &zip, const std::string &package, std::int32_t chunkSize,
                std::ostream &out) {
  RequireFile(zip, "archive");
  if (chunkSize < 1 || chunkSize > packages::MaxChunkLength)
    Fail(ExitBadInput, "--chunk-size must be 1 to " + std::to_string(packages::MaxChunkLength));
  if (PathKey(zip) == PathKey(package))
    Fail(ExitBadInput, "the package must not replace the archive it is made from");
  if (!packages::WritePackageFile(zip, package, chunkSize))
    Fail(ExitFailed, "the package " + package + " cannot be written (error " +
                         std::to_string(platform::LastError()) + ")");
  out << "packed " << zip << " into " << package << " (" << FileSizeOf(package) << " bytes)\n";
  return ExitOk;
}

int PackageVerify(const std::string &package, std::ostream &out) {
  RequireFile(package, "package");
  packages::TPackageReport report;
  bool ok = packages::VerifyPackageStream(package, "", report);
  out << package << ": " << packages::DescribePackageReport(report) << "\n";
  if (report.HeaderRead)
    out << "header: totalLength " << report.TotalLength << ", crcSum " << report.CrcSum << "\n";
  return ok ? ExitOk : ExitFailed;
}

int PackageExtract(const std::string &package, const std::string &zip, std::ostream &out) {
  RequireFile(package, "package");
  if (PathKey(zip) == PathKey(package))
    Fail(ExitBadInput, "the archive must not replace the package it comes from");
  packages::TPackageReport report;
  bool ok = packages::VerifyPackageStream(package, zip, report);
  out << package << ": " << packages::DescribePackageReport(report) << "\n";
  if (!ok) {
    // Half an archive is worse than none: nobody should unpack it by mistake.
    platform::DeleteFile(zip);
    out << "no archive written\n";
    return ExitFailed;
  }
  out << "archive " << zip << " written (" << report.BytesVerified << " bytes)\n";
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
    Fail(ExitFailed,
         path + " cannot be written (error " + std::to_string(platform::LastError()) + ")");
  out << "wrote " << path << ": " << entries.size() << " entries\n";
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
    err << "warning: " << path << " has " << size << " bytes, a download record "
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

const char *const FieldsHelp =
    "FIELD=VALUE assignments. Lists take an index from 1: DestFolders[3]=C:\\X. Texts are UTF-8 "
    "and are stored as Windows-1252; dates take a day number, YYYY-MM-DD or DD.MM.YYYY; times "
    "hh:mm:ss or seconds.";

} // namespace

int RunZrkTool(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  try {
    CLI::App app{"zrktool: shows and edits the files that the host shares with zrkupd, and makes, "
                 "verifies and unpacks package files.",
                 "zrktool"};
    app.require_subcommand(1);
    std::function<int()> action;

    // settings
    auto *settings = app.add_subcommand("settings", "the settings file ZRKUPD.DAT");
    settings->require_subcommand(1);
    std::string settingsTarget, storeFolder, storeSource;
    auto *settingsShow =
        settings->add_subcommand("show", "print the settings record as JSON (texts in UTF-8)");
    settingsShow
        ->add_option("DATAFOLDER_OR_FILE", settingsTarget,
                     "a data folder (its ZRKUPD.DAT is read) or a settings file")
        ->required();
    settingsShow->callback([&] {
      action = [&] {
        SettingsShow(settingsTarget, out, err);
        return ExitOk;
      };
    });
    auto *settingsStore = settings->add_subcommand(
        "store", "build the settings file from a TSettingsSource given as JSON, through "
                 "StoreSettings, and print its result code and meaning");
    settingsStore->footer(
        "SOURCE.json is an object with the TSettingsSource field names: AdminFileName, "
        "DownloadFileName, DownloadFolder, StagingFolder, UpdateTitle, DialogCaption, BrandText, "
        "ExtraText1-3 (texts), AdminSeed, OptionFlag1, OptionFlag2, OptionByte, ExtraNumber1-3 "
        "(numbers), DestFolders (a list of up to 20 texts, entries 1 to 20). Missing keys are "
        "empty or 0. File names without a folder are taken relative to the current folder, as "
        "zrkupd does. The administration file must exist already (zrktool admin init).");
    settingsStore->add_option("DATAFOLDER", storeFolder, "folder for ZRKUPD.DAT")->required();
    settingsStore->add_option("SOURCE", storeSource, "the settings source, JSON")->required();
    settingsStore->callback(
        [&] { action = [&] { return SettingsStore(storeFolder, storeSource, out); }; });

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
    adminShow->add_option("FILE", adminFile,
                          "the administration file (default with --data-folder: AdminFileName "
                          "of the settings)");
    seeds.AddTo(adminShow);
    adminShow->callback([&] {
      action = [&] {
        seeds.Resolve();
        AdminShow(seeds.FileOr(adminFile, admin::Settings.AdminFileName(), "administration file"),
                  seeds.Seed, out, err);
        return ExitOk;
      };
    });

    auto *adminInit = adminCmd->add_subcommand(
        "init", "make a new administration file: a header (all zeros but the fields given) and "
                "no package records");
    adminInit->add_option("FILE", adminFile, "the new administration file")->required();
    seeds.AddTo(adminInit);
    adminInit->add_flag("--force", force, "replace an existing file");
    adminInit->add_option("FIELDS", assignments, FieldsHelp);
    adminInit->callback([&] {
      action = [&] {
        seeds.Resolve();
        AdminInit(adminFile, seeds.Seed, force, assignments, out);
        return ExitOk;
      };
    });

    auto *adminAdd = adminCmd->add_subcommand(
        "add-package", "append a package record; InstallPending, PackageReady and DestIndex "
                       "start at 1, everything else at 0");
    adminAdd->add_option("FILE", adminFile, "the administration file")->required();
    seeds.AddTo(adminAdd);
    adminAdd->add_option("FIELDS", assignments, FieldsHelp)->required();
    adminAdd->footer("Fields: PackageFileName (required), InstalledInfo[1..3], OfferedInfo[1..3], "
                     "InstallPending, DestIndex, PackageReady.");
    adminAdd->callback([&] {
      action = [&] {
        seeds.Resolve();
        AdminAddPackage(adminFile, seeds.Seed, assignments, out);
        return ExitOk;
      };
    });

    auto *adminSet = adminCmd->add_subcommand(
        "set", "change fields of the header, or of package record N with --package N; every "
               "other byte stays as it is");
    adminSet->add_option("FILE", adminFile, "the administration file")->required();
    seeds.AddTo(adminSet);
    auto *packageOption = adminSet->add_option("--package", packageIndexValue,
                                               "package record number, from 0 in file order");
    adminSet->add_option("FIELDS", assignments, FieldsHelp)->required();
    adminSet->footer("Header fields: DestFolders[1..20], DownloadFolder, StagingFolder, "
                     "VersionText, VersionDate, UpdatePending, VersionNumber, VersionDate2, "
                     "LastResult, LastRunDate, LastRunTime, OptionFlag1, OptionFlag2, "
                     "OfferedVersionText, OfferedVersionDate.");
    adminSet->callback([&] {
      action = [&] {
        seeds.Resolve();
        if (packageOption->count() > 0)
          packageIndex = packageIndexValue;
        AdminSet(adminFile, seeds.Seed, packageIndex, assignments, out);
        return ExitOk;
      };
    });

    // package
    auto *packageCmd = app.add_subcommand("package", "package files (chunked CRC-32 containers)");
    packageCmd->require_subcommand(1);
    std::string zipPath, packagePath;
    std::int32_t chunkSize = packages::MaxChunkLength;
    auto *pack = packageCmd->add_subcommand("pack", "make a package file of a ZIP archive");
    pack->add_option("ZIP", zipPath, "the archive")->required();
    pack->add_option("PACKAGE", packagePath, "the package file to write")->required();
    pack->add_option("--chunk-size", chunkSize, "payload bytes per chunk, 1 to 65000 (default)");
    pack->callback(
        [&] { action = [&] { return PackagePack(zipPath, packagePath, chunkSize, out); }; });
    auto *verify = packageCmd->add_subcommand(
        "verify", "check every chunk and both totals; say what is wrong and where");
    verify->add_option("PACKAGE", packagePath, "the package file")->required();
    verify->callback([&] { action = [&] { return PackageVerify(packagePath, out); }; });
    auto *extract = packageCmd->add_subcommand(
        "extract", "verify a package and write its ZIP archive (nothing is left on failure)");
    extract->add_option("PACKAGE", packagePath, "the package file")->required();
    extract->add_option("ZIP", zipPath, "the archive to write")->required();
    extract->callback([&] { action = [&] { return PackageExtract(packagePath, zipPath, out); }; });

    std::vector<std::string> markerEntries;
    auto *marker = packageCmd->add_subcommand(
        "filepath-id", "write a FILEPATH.ID marker file, to put into a package's ZIP");
    marker->add_option("FILE", packagePath, "the marker file to write")->required();
    marker
        ->add_option("ENTRIES", markerEntries,
                     "NAME=INDEX: the file NAME (no folder) goes to destination folder INDEX "
                     "(1 to 20); the first entry for a name counts")
        ->required();
    marker->callback(
        [&] { action = [&] { return PackageFilePathId(packagePath, markerEntries, out); }; });

    // download
    auto *downloadCmd = app.add_subcommand("download", "the download record file (UPDDOWNL.VAB)");
    downloadCmd->require_subcommand(1);
    std::string downloadFile;
    auto *downloadShow = downloadCmd->add_subcommand(
        "show", "print the download record (opaque to zrkupd) as a hex dump in JSON");
    downloadShow->add_option("FILE", downloadFile,
                             "the download record file (default with --data-folder: "
                             "DownloadFileName of the settings)");
    seeds.AddTo(downloadShow);
    downloadShow->callback([&] {
      action = [&] {
        seeds.Resolve();
        DownloadShow(
            seeds.FileOr(downloadFile, admin::Settings.DownloadFileName(), "download record file"),
            seeds.Seed, out, err);
        return ExitOk;
      };
    });

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
