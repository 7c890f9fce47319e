// The settings file "ZRKUPD.DAT": the one record with a fixed name and seed. It
// says where the administration file and the download record are and which
// seed scrambles them. Also the program-wide data folder and settings record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "admin/admin_records.h"
#include "util/short_string.h"

namespace admin {

constexpr std::size_t SettingsRecordSize = 2610;
constexpr std::int32_t DefaultAdminSeed = 1658203;
constexpr std::string_view SettingsFileName = "ZRKUPD.DAT";
// The new settings file before it replaces the old one.
constexpr std::string_view SettingsTempName = "ZRKUPD.TMP";

constexpr std::size_t SettingsFileNameCapacity = 255;
constexpr std::size_t TitleCapacity = 150;
constexpr std::size_t BrandTextCapacity = 80;
constexpr std::size_t ExtraText1Capacity = 255;
constexpr std::size_t ExtraTextCapacity = 127; // ExtraText2 and ExtraText3

constexpr std::size_t AdminSeedOffset = 0;
constexpr std::size_t AdminFileNameOffset = 4;
constexpr std::size_t DownloadFileNameOffset = 260;
constexpr std::size_t SettingsReserved1Offset = 516; // 594 bytes, host's
constexpr std::size_t UpdateTitleOffset = 1110;
constexpr std::size_t DialogCaptionOffset = 1261;
constexpr std::size_t SettingsReserved2Offset = 1412; // 395 bytes, host's
constexpr std::size_t BrandTextOffset = 1807;
constexpr std::size_t SettingsReserved3Offset = 1888; // 1 byte, host's
constexpr std::size_t OptionByteOffset = 1889;
constexpr std::size_t ExtraText1Offset = 1890;
constexpr std::size_t ExtraNumber1Offset = 2146;
constexpr std::size_t ExtraText2Offset = 2150;
constexpr std::size_t ExtraText3Offset = 2278;
constexpr std::size_t ExtraNumber2Offset = 2406;
constexpr std::size_t ExtraNumber3Offset = 2410;
constexpr std::size_t SettingsReserved4Offset = 2414; // 196 bytes, host's

static_assert(AdminSeedOffset + 4 == AdminFileNameOffset);
static_assert(AdminFileNameOffset + SettingsFileNameCapacity + 1 == DownloadFileNameOffset);
static_assert(DownloadFileNameOffset + SettingsFileNameCapacity + 1 == SettingsReserved1Offset);
static_assert(SettingsReserved1Offset + 594 == UpdateTitleOffset);
static_assert(UpdateTitleOffset + TitleCapacity + 1 == DialogCaptionOffset);
static_assert(DialogCaptionOffset + TitleCapacity + 1 == SettingsReserved2Offset);
static_assert(SettingsReserved2Offset + 395 == BrandTextOffset);
static_assert(BrandTextOffset + BrandTextCapacity + 1 == SettingsReserved3Offset);
static_assert(SettingsReserved3Offset + 1 == OptionByteOffset);
static_assert(OptionByteOffset + 1 == ExtraText1Offset);
static_assert(ExtraText1Offset + ExtraText1Capacity + 1 == ExtraNumber1Offset);
static_assert(ExtraNumber1Offset + 4 == ExtraText2Offset);
static_assert(ExtraText2Offset + ExtraTextCapacity + 1 == ExtraText3Offset);
static_assert(ExtraText3Offset + ExtraTextCapacity + 1 == ExtraNumber2Offset);
static_assert(ExtraNumber2Offset + 4 == ExtraNumber3Offset);
static_assert(ExtraNumber3Offset + 4 == SettingsReserved4Offset);
static_assert(SettingsReserved4Offset + 196 == SettingsRecordSize);

struct TUpdateSettings {
  std::uint8_t Bytes[SettingsRecordSize] = {};

  std::int32_t AdminSeed() const { return util::GetI32(Bytes, AdminSeedOffset); }
  void SetAdminSeed(std::int32_t v) { util::PutI32(Bytes, AdminSeedOffset, v); }
  util::TShortString AdminFileName() const {
    return fields::GetText(Bytes, AdminFileNameOffset, SettingsFileNameCapacity);
  }
  void SetAdminFileName(std::string_view text) {
    fields::SetText(Bytes, AdminFileNameOffset, SettingsFileNameCapacity, text);
  }
  util::TShortString DownloadFileName() const {
    return fields::GetText(Bytes, DownloadFileNameOffset, SettingsFileNameCapacity);
  }
  void SetDownloadFileName(std::string_view text) {
    fields::SetText(Bytes, DownloadFileNameOffset, SettingsFileNameCapacity, text);
  }
  util::TShortString UpdateTitle() const {
    return fields::GetText(Bytes, UpdateTitleOffset, TitleCapacity);
  }
  void SetUpdateTitle(std::string_view text) {
    fields::SetText(Bytes, UpdateTitleOffset, TitleCapacity, text);
  }
  util::TShortString DialogCaption() const {
    return fields::GetText(Bytes, DialogCaptionOffset, TitleCapacity);
  }
  void SetDialogCaption(std::string_view text) {
    fields::SetText(Bytes, DialogCaptionOffset, TitleCapacity, text);
  }
  util::TShortString BrandText() const {
    return fields::GetText(Bytes, BrandTextOffset, BrandTextCapacity);
  }
  void SetBrandText(std::string_view text) {
    fields::SetText(Bytes, BrandTextOffset, BrandTextCapacity, text);
  }
  std::uint8_t OptionByte() const { return Bytes[OptionByteOffset]; }
  void SetOptionByte(std::uint8_t v) { Bytes[OptionByteOffset] = v; }
  util::TShortString ExtraText1() const {
    return fields::GetText(Bytes, ExtraText1Offset, ExtraText1Capacity);
  }
  void SetExtraText1(std::string_view text) {
    fields::SetText(Bytes, ExtraText1Offset, ExtraText1Capacity, text);
  }
  std::int32_t ExtraNumber1() const { return util::GetI32(Bytes, ExtraNumber1Offset); }
  void SetExtraNumber1(std::int32_t v) { util::PutI32(Bytes, ExtraNumber1Offset, v); }
  util::TShortString ExtraText2() const {
    return fields::GetText(Bytes, ExtraText2Offset, ExtraTextCapacity);
  }
  void SetExtraText2(std::string_view text) {
    fields::SetText(Bytes, ExtraText2Offset, ExtraTextCapacity, text);
  }
  util::TShortString ExtraText3() const {
    return fields::GetText(Bytes, ExtraText3Offset, ExtraTextCapacity);
  }
  void SetExtraText3(std::string_view text) {
    fields::SetText(Bytes, ExtraText3Offset, ExtraTextCapacity, text);
  }
  std::int32_t ExtraNumber2() const { return util::GetI32(Bytes, ExtraNumber2Offset); }
  void SetExtraNumber2(std::int32_t v) { util::PutI32(Bytes, ExtraNumber2Offset, v); }
  std::int32_t ExtraNumber3() const { return util::GetI32(Bytes, ExtraNumber3Offset); }
  void SetExtraNumber3(std::int32_t v) { util::PutI32(Bytes, ExtraNumber3Offset, v); }
};
static_assert(sizeof(TUpdateSettings) == SettingsRecordSize);

// Input of StoreSettings. Texts end at their first NUL and are cut to the
// capacity of the field they go to (folders and file names 255, titles 150,
// BrandText 80, ExtraText1 255, ExtraText2/3 127). DestFolders is indexed 1..20
// like the header's entries; element 0 is not used.
struct TSettingsSource {
  std::string AdminFileName;
  std::string DownloadFileName;
  std::string DownloadFolder;
  std::string StagingFolder;
  std::int32_t AdminSeed = 0;
  std::string UpdateTitle;
  std::string DialogCaption;
  std::array<std::string, DestFolderCount + 1> DestFolders;
  std::int32_t OptionFlag1 = 0;
  std::int32_t OptionFlag2 = 0;
  std::string BrandText;
  std::int32_t OptionByte = 0; // only the low byte is stored
  std::string ExtraText1;
  std::int32_t ExtraNumber1 = 0;
  std::string ExtraText2;
  std::string ExtraText3;
  std::int32_t ExtraNumber2 = 0;
  std::int32_t ExtraNumber3 = 0;
};

// Results of StoreSettings.
constexpr std::int32_t StoreOk = 0;
constexpr std::int32_t StoreSettingsWriteFailed = -1;
constexpr std::int32_t StoreAdminFileNameBlank = -11;
constexpr std::int32_t StoreDownloadFileNameBlank = -12;
constexpr std::int32_t StoreHeaderReadFailed = -21;
constexpr std::int32_t StoreHeaderWriteFailed = -22;
constexpr std::int32_t StoreDownloadFolderBad = -91;
constexpr std::int32_t StoreStagingFolderBad = -92;
constexpr std::int32_t StoreFoldersSame = -93;
constexpr std::int32_t StoreNoDestFolder = -100;
// -100 - i: destination folder i (2..20) is named but missing.
constexpr std::int32_t StoreDestFolderMissingBase = -100;

// Program-wide: the data folder from the command line (trimmed; empty means
// the current folder) and the settings, unscrambled, set once at activation.
extern util::TShortString DataFolder;
extern TUpdateSettings Settings;

// AddBackslash(DataFolder) + SettingsFileName, or the bare name when
// DataFolder is blank. Not cut: in a data folder of 250 characters a cut path
// would name a stranger's file.
std::string SettingsPath();

enum class TSettingsRead {
  Read,
  Missing,    // no file: defaults are due
  Unreadable, // there, but cannot be read now (held, not a regular file)
};

// Settings := the settings file's record, unscrambled; a short file as far as
// it goes, its missing bytes as the key bytes of their positions. All zeros
// unless it was read.
TSettingsRead ReadSettingsFile();
// True when ReadSettingsFile read the record.
[[nodiscard]] bool ReadSettings();
// Writes Settings, scrambled, as the whole settings file.
[[nodiscard]] bool WriteSettingsFile();
// Stores the built-in defaults through StoreSettings; the result is ignored.
void WriteDefaultSettings();
// Builds Settings from `source`, writes the settings file and brings the
// administration header's folders and option flags in line. 0 or a Store* code.
std::int32_t StoreSettings(const TSettingsSource &source);
// One line on what a StoreSettings result means, for tools that print it.
std::string StoreSettingsResultText(std::int32_t result);

} // namespace admin
