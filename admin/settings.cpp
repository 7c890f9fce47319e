// The settings file: reading it into the global Settings, writing defaults,
// and storing a new configuration together with the header's folder entries.
#include "admin/settings.h"

#include <cstring>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "platform/files.h"
#include "util/text.h"

namespace admin {

util::TShortString DataFolder;
TUpdateSettings Settings;

namespace {

constexpr std::int32_t SettingsSize = static_cast<std::int32_t>(SettingsRecordSize);

// A source text as the zero-terminated field it stands for.
std::string_view SourceText(const std::string &text) {
  std::string_view view(text);
  return view.substr(0, view.find('\0'));
}

// Beside the settings file, so that the replace stays on one volume.
std::string SettingsTempPath() {
  if (util::TrimText(DataFolder.View()).Empty())
    return std::string(SettingsTempName);
  return util::AddBackslash(DataFolder.View()).append(SettingsTempName);
}

} // namespace

// The whole record goes to a new file that then replaces the settings file,
// so that a full disk or a crash never leaves a short settings file behind.
bool WriteSettingsFile() {
  TUpdateSettings scrambled = Settings;
  ScrambleBuffer(scrambled.Bytes, SettingsSize, SettingsSeed);
  const std::string temp = SettingsTempPath();
  // One left by a run that was ended while it wrote is ours to replace.
  (void)platform::DeleteFile(temp);
  platform::TTempFile file;
  if (!file.CreateAs(SettingsPath(), temp))
    return false;
  // The old settings stay on any failure; the temporary file goes with `file`.
  return file.File().WriteAll(scrambled.Bytes, SettingsRecordSize) &&
         file.Commit({}, platform::TDurable::Now);
}

namespace {

// ExtractFolder(AddBackslash(text)): the folder without a trailing backslash
// (a drive root keeps it). The backslash is added to a long text so that a
// folder of 255 characters does not lose it to the short-string cut.
util::TShortString NormalisedFolder(std::string_view text) {
  std::string withSlash(text);
  if (!util::TrimText(text).Empty() && withSlash.back() != '\\')
    withSlash += '\\';
  return util::ExtractFolder(withSlash);
}

bool UsableFolder(const util::TShortString &folder) {
  return !util::TrimText(folder.View()).Empty() && util::FolderExists(folder.View());
}

util::TShortString ComparableFolder(const util::TShortString &folder) {
  util::TShortString upper = util::UpperCaseGerman(folder.View());
  return util::ExpandUmlauts(upper.View());
}

// Steps 6 to 11 of storing: the header's folders and option flags. `named`
// tells whether the destination check was reached and found a named folder.
std::int32_t StoreHeaderFolders(const TSettingsSource &source, bool &named) {
  TAdminHeader header;
  util::TShortString adminFile = Settings.AdminFileName();
  if (!ReadAdminHeader(adminFile.View(), header, Settings.AdminSeed()))
    return StoreHeaderReadFailed;

  header.SetDownloadFolder(NormalisedFolder(SourceText(source.DownloadFolder)).View());
  if (!UsableFolder(header.DownloadFolder()))
    return StoreDownloadFolderBad;
  header.SetStagingFolder(NormalisedFolder(SourceText(source.StagingFolder)).View());
  if (!UsableFolder(header.StagingFolder()))
    return StoreStagingFolderBad;
  if (ComparableFolder(header.StagingFolder()) == ComparableFolder(header.DownloadFolder()))
    return StoreFoldersSame;

  named = false;
  for (int i = 1; i <= DestFolderCount; ++i) {
    util::TShortString t =
        util::TrimText(util::TShortString(SourceText(source.DestFolders[i])).View());
    header.SetDestFolder(i, NormalisedFolder(t.View()).View());
    if (t.Empty())
      continue;
    if (!util::FolderExists(header.DestFolder(i).View()))
      return StoreDestFolderMissingBase - i;
    named = true;
  }

  header.SetOptionFlag1(source.OptionFlag1 != 0 ? 1 : 0);
  header.SetOptionFlag2(source.OptionFlag2 != 0 ? 1 : 0);
  if (!WriteAdminHeader(adminFile.View(), header, Settings.AdminSeed()))
    return StoreHeaderWriteFailed;
  return StoreOk;
}

} // namespace

std::string SettingsPath() {
  if (util::TrimText(DataFolder.View()).Empty())
    return std::string(SettingsFileName);
  return util::AddBackslash(DataFolder.View()).append(SettingsFileName);
}

TSettingsRead ReadSettingsFile() {
  std::memset(Settings.Bytes, 0, sizeof Settings.Bytes);
  platform::TFile file;
  if (!file.OpenShared(SettingsPath())) {
    const int error = platform::LastError();
    return error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound
               ? TSettingsRead::Missing
               : TSettingsRead::Unreadable;
  }
  std::uint32_t got = 0;
  const bool readOk = file.Read(Settings.Bytes, SettingsRecordSize, got);
  file.Close();
  // A shorter file counts as read: the bytes beyond its end come out as the
  // key bytes of their positions. Our own writes replace the file whole, so
  // a short one is the host's and is never written over.
  if (readOk) {
    ScrambleBuffer(Settings.Bytes, SettingsSize, SettingsSeed);
    return TSettingsRead::Read;
  }
  std::memset(Settings.Bytes, 0, sizeof Settings.Bytes);
  return TSettingsRead::Unreadable;
}

bool ReadSettings() {
  return ReadSettingsFile() == TSettingsRead::Read;
}

void WriteDefaultSettings() {
  TSettingsSource source;
  source.AdminFileName = "UPDADMIN.VAB";
  source.DownloadFileName = "UPDDOWNL.VAB";
  source.BrandText = "Quendraforge";
  source.AdminSeed = DefaultAdminSeed;
  source.OptionFlag1 = 1;
  source.OptionFlag2 = 1;
  source.OptionByte = 1;
  source.UpdateTitle = "Online-Update f\xFCr Tarnelwerks";
  source.DialogCaption = "Dateien einarbeiten";
  source.DownloadFolder = "C:\\TEST";
  source.StagingFolder = "C:\\Help";
  source.DestFolders[1] = "C:\\UPD1";
  source.DestFolders[2] = "C:\\UPD2";
  source.DestFolders[3] = "C:\\UPD3";
  source.DestFolders[4] = "C:\\UPD2\\UPD22";
  StoreSettings(source);
}

std::int32_t StoreSettings(const TSettingsSource &source) {
  std::memset(Settings.Bytes, 0, sizeof Settings.Bytes);
  Settings.SetAdminFileName(SourceText(source.AdminFileName));
  if (util::TrimText(Settings.AdminFileName().View()).Empty())
    return StoreAdminFileNameBlank;
  Settings.SetDownloadFileName(SourceText(source.DownloadFileName));
  if (util::TrimText(Settings.DownloadFileName().View()).Empty())
    return StoreDownloadFileNameBlank;

  Settings.SetAdminSeed(source.AdminSeed);
  Settings.SetOptionByte(static_cast<std::uint8_t>(source.OptionByte & 0xFF));
  Settings.SetUpdateTitle(SourceText(source.UpdateTitle));
  Settings.SetDialogCaption(SourceText(source.DialogCaption));
  Settings.SetBrandText(SourceText(source.BrandText));
  Settings.SetExtraText1(SourceText(source.ExtraText1));
  Settings.SetExtraNumber1(source.ExtraNumber1);
  Settings.SetExtraText2(SourceText(source.ExtraText2));
  Settings.SetExtraText3(SourceText(source.ExtraText3));
  Settings.SetExtraNumber2(source.ExtraNumber2);
  Settings.SetExtraNumber3(source.ExtraNumber3);

  std::int32_t result = WriteSettingsFile() ? StoreOk : StoreSettingsWriteFailed;
  bool named = true;
  std::int32_t headerResult = StoreHeaderFolders(source, named);
  if (headerResult != StoreOk)
    result = headerResult;
  // No destination named at all, or the first named one missing.
  if (!named)
    result = StoreNoDestFolder;
  return result;
}

std::string StoreSettingsResultText(std::int32_t result) {
  switch (result) {
  case StoreOk:
    return "Settings file and administration header written.";
  case StoreSettingsWriteFailed:
    return "Writing the settings file failed.";
  case StoreAdminFileNameBlank:
    return "The administration file name is blank; nothing written.";
  case StoreDownloadFileNameBlank:
    return "The download record file name is blank; nothing written.";
  case StoreHeaderReadFailed:
    return "Reading the administration header failed.";
  case StoreHeaderWriteFailed:
    return "Writing the administration header failed.";
  case StoreDownloadFolderBad:
    return "The download folder is blank or does not exist.";
  case StoreStagingFolderBad:
    return "The staging folder is blank or does not exist.";
  case StoreFoldersSame:
    return "Download folder and staging folder are the same.";
  case StoreNoDestFolder:
    return "No destination folder is named, or the first named one does not exist.";
  default:
    break;
  }
  if (result <= StoreDestFolderMissingBase - 2 && result >= StoreDestFolderMissingBase - 20)
    return "Destination folder " + std::to_string(StoreDestFolderMissingBase - result) +
           " is named but does not exist.";
  return "Unknown result " + std::to_string(result) + ".";
}

} // namespace admin
