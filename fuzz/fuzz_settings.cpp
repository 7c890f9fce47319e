// Fuzz target for the settings file: the input is ZRKUPD.DAT in the data
// folder. ReadSettings must deliver the unscrambled bytes of a whole record,
// a short file's missing bytes as key bytes; storing the settings read and
// reading them again must give the same record.
#include <cstdint>
#include <cstring>
#include <string>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "fuzz/fuzz_support.h"
#include "util/text.h"

namespace {

using fuzz::Require;
using namespace admin;

constexpr char AdminPath[] = "C:\\DATA\\UPDADMIN.VAB";

util::TShortString UpToNul(const util::TShortString &text) {
  std::string s = text.Str();
  return s.substr(0, s.find('\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::UseScratchDrives();
  static bool folders = [] {
    for (const char *folder : {"C:\\DATA", "C:\\TEST", "C:\\HELP", "C:\\UPD1"})
      fuzz::MakeFolder(folder);
    return true;
  }();
  (void)folders;
  DataFolder = "C:\\DATA";
  Require(SettingsPath() == "C:\\DATA\\ZRKUPD.DAT", "SettingsPath: wrong path");
  fuzz::PutFile(SettingsPath(), data, size);

  // A file of any size is read: a short one as far as it goes, its missing
  // bytes as the key bytes of their positions (a stored 0 below).
  Require(ReadSettingsFile() == TSettingsRead::Read,
          "ReadSettingsFile: an existing file was not read");
  Require(ReadSettings(), "ReadSettings: an existing file was not read");
  for (std::size_t i = 0; i < SettingsRecordSize; ++i) {
    std::uint8_t stored = i < size ? data[i] : 0;
    Require(Settings.Bytes[i] == (stored ^ ScrambleKey(static_cast<std::int64_t>(i), SettingsSeed)),
            "ReadSettings: a byte is not the unscrambled file byte");
  }
  const TUpdateSettings read = Settings;
  util::TrimText(read.AdminFileName());
  util::TrimText(read.DownloadFileName());
  util::TrimText(read.DialogCaption());

  // Store what was read (with our own administration file), then read it back.
  TSettingsSource source;
  source.AdminFileName = AdminPath;
  source.DownloadFileName = read.DownloadFileName().Str();
  source.AdminSeed = read.AdminSeed();
  source.UpdateTitle = read.UpdateTitle().Str();
  source.DialogCaption = read.DialogCaption().Str();
  source.BrandText = read.BrandText().Str();
  source.OptionByte = read.OptionByte();
  source.ExtraText1 = read.ExtraText1().Str();
  source.ExtraNumber1 = read.ExtraNumber1();
  source.ExtraText2 = read.ExtraText2().Str();
  source.ExtraText3 = read.ExtraText3().Str();
  source.ExtraNumber2 = read.ExtraNumber2();
  source.ExtraNumber3 = read.ExtraNumber3();
  source.DownloadFolder = "C:\\TEST";
  source.StagingFolder = "C:\\HELP";
  source.DestFolders[1] = "C:\\UPD1";
  source.OptionFlag1 = read.ExtraNumber1();
  source.OptionFlag2 = read.ExtraNumber2();
  // A header scrambled with the seed read must be there for the store.
  fuzz::PutFile(AdminPath, nullptr, 0);
  Require(WriteAdminHeader(AdminPath, TAdminHeader(), read.AdminSeed()),
          "the administration header cannot be written");

  std::int32_t result = StoreSettings(source);
  bool blankDownload = util::TrimText(UpToNul(read.DownloadFileName())).Empty();
  Require(result == (blankDownload ? StoreDownloadFileNameBlank : StoreOk),
          "StoreSettings: unexpected result");
  if (blankDownload)
    return 0;
  const TUpdateSettings stored = Settings;
  Require(stored.AdminSeed() == read.AdminSeed() &&
              stored.DownloadFileName() == UpToNul(read.DownloadFileName()) &&
              stored.UpdateTitle() == UpToNul(read.UpdateTitle()) &&
              stored.DialogCaption() == UpToNul(read.DialogCaption()) &&
              stored.BrandText() == UpToNul(read.BrandText()) &&
              stored.OptionByte() == read.OptionByte() &&
              stored.ExtraText1() == UpToNul(read.ExtraText1()) &&
              stored.ExtraNumber1() == read.ExtraNumber1() &&
              stored.ExtraText2() == UpToNul(read.ExtraText2()) &&
              stored.ExtraText3() == UpToNul(read.ExtraText3()) &&
              stored.ExtraNumber2() == read.ExtraNumber2() &&
              stored.ExtraNumber3() == read.ExtraNumber3(),
          "StoreSettings: a field was not stored as given");
  Require(ReadSettings() && std::memcmp(Settings.Bytes, stored.Bytes, SettingsRecordSize) == 0,
          "the stored settings do not read back");

  TAdminHeader header;
  Require(ReadAdminHeader(AdminPath, header, read.AdminSeed()),
          "the stored administration header cannot be read");
  Require(header.DownloadFolder() == "C:\\TEST" && header.StagingFolder() == "C:\\HELP" &&
              header.DestFolder(1) == "C:\\UPD1" &&
              header.OptionFlag1() == (read.ExtraNumber1() != 0 ? 1 : 0),
          "StoreSettings: the header's folders were not stored");
  return 0;
}
