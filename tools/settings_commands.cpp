// zrktool settings: the settings file ZRKUPD.DAT shown as JSON, and stored
// from a settings source through the program's own StoreSettings.
#include <algorithm>
#include <memory>

#include <CLI/CLI.hpp>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "tools/codepage.h"
#include "tools/commands.h"
#include "tools/record_fields.h"
#include "tools/values.h"
#include "tools/zrktool.h"
#include "util/text.h"

namespace tools {

namespace {

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

} // namespace

void DefineSettingsShow(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string Target;
    bool Json = false;
  };
  auto o = std::make_shared<TOptions>();
  AddRequiredPath(command, "DATAFOLDER_OR_FILE", o->Target,
                  "a data folder (its ZRKUPD.DAT is read) or a settings file");
  command.add_flag("--json", o->Json,
                   "the record under \"Settings\", with \"Path\" and \"Problems\"");
  context.OnRun(command, [o, &context] {
    SettingsShow(o->Target, o->Json, context.Out, context.Err);
    return ExitOk;
  });
}

void DefineSettingsStore(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string Folder, Source;
    bool TakeMissing = false, Force = false;
  };
  auto o = std::make_shared<TOptions>();
  command.footer(
      "SOURCE.json is an object with the TSettingsSource field names: AdminFileName, "
      "DownloadFileName, DownloadFolder, StagingFolder, UpdateTitle, DialogCaption, BrandText, "
      "ExtraText1-3 (texts), AdminSeed, OptionFlag1, OptionFlag2, OptionByte, ExtraNumber1-3 "
      "(numbers), DestFolders (a list of up to 20 texts, entries 1 to 20). Every key is required "
      "unless --take-missing is given. File names without a folder are taken relative to the "
      "current folder, as zrkupd does. The administration file must exist already (zrktool "
      "admin init). The folders must obey the program's folder rules. When the store fails, "
      "both files are left as they were.");
  AddRequiredPath(command, "DATAFOLDER", o->Folder, "folder for ZRKUPD.DAT");
  AddRequiredPath(command, "SOURCE", o->Source,
                  "the settings source, JSON; - reads it from "
                  "standard input");
  command.add_flag("--take-missing", o->TakeMissing,
                   "fields the source leaves out keep the values of the current settings "
                   "file and administration header");
  command.add_flag("--force", o->Force,
                   "store even when the administration file does not decode under the "
                   "source's AdminSeed");
  context.OnRun(command, [o, &context] {
    std::string text = ReadWholeFile(context.Stdio.Input(o->Source), "source");
    return SettingsStore(o->Folder, text, o->TakeMissing, o->Force, context.Out, context.Err);
  });
}

} // namespace tools
