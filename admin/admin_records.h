// Byte layouts of the records that this program shares with the host: the
// administration header, the package records behind it and the download record.
// Each record is its raw bytes plus accessors that decode and encode one field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "util/byte_order.h"
#include "util/short_string.h"

namespace admin {

// Short strings inside a raw record (integers go through util/byte_order.h). A text field of
// capacity N occupies N + 1 bytes: the length byte, then the characters.
namespace fields {

// A length byte above the capacity (a damaged record) is read as the capacity,
// so that a text never reaches into the next field or beyond the record.
inline util::TShortString GetText(const std::uint8_t *bytes, std::size_t offset,
                                  std::size_t capacity) {
  std::size_t length = bytes[offset];
  if (length > capacity)
    length = capacity;
  return util::TShortString(
      std::string_view(reinterpret_cast<const char *>(bytes + offset + 1), length));
}

// Writes the length byte and the characters only; the bytes behind the text
// keep whatever they held.
inline void SetText(std::uint8_t *bytes, std::size_t offset, std::size_t capacity,
                    std::string_view text) {
  std::size_t length = text.size() < capacity ? text.size() : capacity;
  bytes[offset] = static_cast<std::uint8_t>(length);
  for (std::size_t i = 0; i < length; ++i)
    bytes[offset + 1 + i] = static_cast<std::uint8_t>(text[i]);
}

} // namespace fields

// ---------------------------------------------------------------------------
// Administration header: the first 5809 bytes of the administration file.

constexpr std::size_t AdminHeaderSize = 5809;

constexpr int DestFolderCount = 20;
constexpr std::size_t FolderCapacity = 255;
constexpr std::size_t VersionTextCapacity = 20;

constexpr std::size_t DestFoldersOffset = 0; // entry i at 256 * (i - 1)
constexpr std::size_t DestFolderWidth = FolderCapacity + 1;
constexpr std::size_t DownloadFolderOffset = 5120;
constexpr std::size_t StagingFolderOffset = 5376;
constexpr std::size_t VersionTextOffset = 5632;
constexpr std::size_t VersionDateOffset = 5653;
constexpr std::size_t UpdatePendingOffset = 5657;
constexpr std::size_t VersionNumberOffset = 5658;
constexpr std::size_t HeaderReserved1Offset = 5662; // 4 bytes, host's
constexpr std::size_t VersionDate2Offset = 5666;
constexpr std::size_t HeaderReserved2Offset = 5670; // 8 bytes, host's
constexpr std::size_t LastResultOffset = 5678;
constexpr std::size_t HeaderReserved3Offset = 5682; // 8 bytes, host's
constexpr std::size_t LastRunDateOffset = 5690;
constexpr std::size_t HeaderReserved4Offset = 5694; // 8 bytes, host's
constexpr std::size_t LastRunTimeOffset = 5702;
constexpr std::size_t HeaderReserved5Offset = 5706; // 12 bytes, host's
constexpr std::size_t OptionFlag1Offset = 5718;
constexpr std::size_t OptionFlag2Offset = 5719;
constexpr std::size_t OfferedVersionTextOffset = 5720;
constexpr std::size_t OfferedVersionDateOffset = 5741;
constexpr std::size_t HeaderReserved6Offset = 5745; // 64 bytes, host's

static_assert(DestFoldersOffset + DestFolderCount * DestFolderWidth == DownloadFolderOffset);
static_assert(DownloadFolderOffset + FolderCapacity + 1 == StagingFolderOffset);
static_assert(StagingFolderOffset + FolderCapacity + 1 == VersionTextOffset);
static_assert(VersionTextOffset + VersionTextCapacity + 1 == VersionDateOffset);
static_assert(VersionDateOffset + 4 == UpdatePendingOffset);
static_assert(UpdatePendingOffset + 1 == VersionNumberOffset);
static_assert(VersionNumberOffset + 4 == HeaderReserved1Offset);
static_assert(HeaderReserved1Offset + 4 == VersionDate2Offset);
static_assert(VersionDate2Offset + 4 == HeaderReserved2Offset);
static_assert(HeaderReserved2Offset + 8 == LastResultOffset);
static_assert(LastResultOffset + 4 == HeaderReserved3Offset);
static_assert(HeaderReserved3Offset + 8 == LastRunDateOffset);
static_assert(LastRunDateOffset + 4 == HeaderReserved4Offset);
static_assert(HeaderReserved4Offset + 8 == LastRunTimeOffset);
static_assert(LastRunTimeOffset + 4 == HeaderReserved5Offset);
static_assert(HeaderReserved5Offset + 12 == OptionFlag1Offset);
static_assert(OptionFlag1Offset + 1 == OptionFlag2Offset);
static_assert(OptionFlag2Offset + 1 == OfferedVersionTextOffset);
static_assert(OfferedVersionTextOffset + VersionTextCapacity + 1 == OfferedVersionDateOffset);
static_assert(OfferedVersionDateOffset + 4 == HeaderReserved6Offset);
static_assert(HeaderReserved6Offset + 64 == AdminHeaderSize);

struct TAdminHeader {
  std::uint8_t Bytes[AdminHeaderSize] = {};

  // i = 1..20; any other index reads as the empty text and is not written.
  util::TShortString DestFolder(int i) const;
  void SetDestFolder(int i, std::string_view text);

  util::TShortString DownloadFolder() const {
    return fields::GetText(Bytes, DownloadFolderOffset, FolderCapacity);
  }
  void SetDownloadFolder(std::string_view text) {
    fields::SetText(Bytes, DownloadFolderOffset, FolderCapacity, text);
  }
  util::TShortString StagingFolder() const {
    return fields::GetText(Bytes, StagingFolderOffset, FolderCapacity);
  }
  void SetStagingFolder(std::string_view text) {
    fields::SetText(Bytes, StagingFolderOffset, FolderCapacity, text);
  }
  util::TShortString VersionText() const {
    return fields::GetText(Bytes, VersionTextOffset, VersionTextCapacity);
  }
  void SetVersionText(std::string_view text) {
    fields::SetText(Bytes, VersionTextOffset, VersionTextCapacity, text);
  }
  std::int32_t VersionDate() const { return util::GetI32(Bytes, VersionDateOffset); }
  void SetVersionDate(std::int32_t v) { util::PutI32(Bytes, VersionDateOffset, v); }
  std::uint8_t UpdatePending() const { return Bytes[UpdatePendingOffset]; }
  void SetUpdatePending(std::uint8_t v) { Bytes[UpdatePendingOffset] = v; }
  std::int32_t VersionNumber() const { return util::GetI32(Bytes, VersionNumberOffset); }
  void SetVersionNumber(std::int32_t v) { util::PutI32(Bytes, VersionNumberOffset, v); }
  std::int32_t VersionDate2() const { return util::GetI32(Bytes, VersionDate2Offset); }
  void SetVersionDate2(std::int32_t v) { util::PutI32(Bytes, VersionDate2Offset, v); }
  std::int32_t LastResult() const { return util::GetI32(Bytes, LastResultOffset); }
  void SetLastResult(std::int32_t v) { util::PutI32(Bytes, LastResultOffset, v); }
  std::int32_t LastRunDate() const { return util::GetI32(Bytes, LastRunDateOffset); }
  void SetLastRunDate(std::int32_t v) { util::PutI32(Bytes, LastRunDateOffset, v); }
  std::int32_t LastRunTime() const { return util::GetI32(Bytes, LastRunTimeOffset); }
  void SetLastRunTime(std::int32_t v) { util::PutI32(Bytes, LastRunTimeOffset, v); }
  std::uint8_t OptionFlag1() const { return Bytes[OptionFlag1Offset]; }
  void SetOptionFlag1(std::uint8_t v) { Bytes[OptionFlag1Offset] = v; }
  std::uint8_t OptionFlag2() const { return Bytes[OptionFlag2Offset]; }
  void SetOptionFlag2(std::uint8_t v) { Bytes[OptionFlag2Offset] = v; }
  util::TShortString OfferedVersionText() const {
    return fields::GetText(Bytes, OfferedVersionTextOffset, VersionTextCapacity);
  }
  void SetOfferedVersionText(std::string_view text) {
    fields::SetText(Bytes, OfferedVersionTextOffset, VersionTextCapacity, text);
  }
  std::int32_t OfferedVersionDate() const { return util::GetI32(Bytes, OfferedVersionDateOffset); }
  void SetOfferedVersionDate(std::int32_t v) { util::PutI32(Bytes, OfferedVersionDateOffset, v); }
};
static_assert(sizeof(TAdminHeader) == AdminHeaderSize);

// ---------------------------------------------------------------------------
// Package record: 294 bytes each, behind the header, scrambled one by one.

constexpr std::size_t PackageRecordSize = 294;

constexpr int PackageInfoCount = 3;
// The host's field runs up to offset 163; we only ever read it.
constexpr std::size_t PackageFileNameCapacity = 141;

constexpr std::size_t PackageReserved1Offset = 0; // 21 bytes, host's
constexpr std::size_t PackageFileNameOffset = 21;
constexpr std::size_t InstalledInfoOffset = 163; // 3 x int32
constexpr std::size_t OfferedInfoOffset = 175;   // 3 x int32
constexpr std::size_t InstallPendingOffset = 187;
constexpr std::size_t DestIndexOffset = 188;
constexpr std::size_t PackageReserved2Offset = 189; // 4 bytes, host's
constexpr std::size_t PackageReadyOffset = 193;
constexpr std::size_t PackageReserved3Offset = 194; // 100 bytes, host's

static_assert(PackageReserved1Offset + 21 == PackageFileNameOffset);
static_assert(PackageFileNameOffset + PackageFileNameCapacity + 1 == InstalledInfoOffset);
static_assert(InstalledInfoOffset + 4 * PackageInfoCount == OfferedInfoOffset);
static_assert(OfferedInfoOffset + 4 * PackageInfoCount == InstallPendingOffset);
static_assert(InstallPendingOffset + 1 == DestIndexOffset);
static_assert(DestIndexOffset + 1 == PackageReserved2Offset);
static_assert(PackageReserved2Offset + 4 == PackageReadyOffset);
static_assert(PackageReadyOffset + 1 == PackageReserved3Offset);
static_assert(PackageReserved3Offset + 100 == PackageRecordSize);

struct TPackageRecord {
  std::uint8_t Bytes[PackageRecordSize] = {};

  util::TShortString PackageFileName() const {
    return fields::GetText(Bytes, PackageFileNameOffset, PackageFileNameCapacity);
  }
  void SetPackageFileName(std::string_view text) {
    fields::SetText(Bytes, PackageFileNameOffset, PackageFileNameCapacity, text);
  }
  // k = 1..3; any other index reads as 0 and is not written.
  std::int32_t InstalledInfo(int k) const;
  void SetInstalledInfo(int k, std::int32_t v);
  std::int32_t OfferedInfo(int k) const;
  void SetOfferedInfo(int k, std::int32_t v);
  std::uint8_t InstallPending() const { return Bytes[InstallPendingOffset]; }
  void SetInstallPending(std::uint8_t v) { Bytes[InstallPendingOffset] = v; }
  std::uint8_t DestIndex() const { return Bytes[DestIndexOffset]; }
  void SetDestIndex(std::uint8_t v) { Bytes[DestIndexOffset] = v; }
  std::uint8_t PackageReady() const { return Bytes[PackageReadyOffset]; }
  void SetPackageReady(std::uint8_t v) { Bytes[PackageReadyOffset] = v; }
};
static_assert(sizeof(TPackageRecord) == PackageRecordSize);

// ---------------------------------------------------------------------------
// Download record: opaque to this program, kept only to be carried along.

constexpr std::size_t DownloadRecordSize = 1433;

struct TDownloadRecord {
  std::uint8_t Bytes[DownloadRecordSize] = {};
};
static_assert(sizeof(TDownloadRecord) == DownloadRecordSize);

} // namespace admin
