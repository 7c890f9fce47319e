// The command record handed to the library entry, with its field offsets as
// named constants and field-by-field little-endian access. Shared by the
// library and by the program side that fills the record.
//
// The record is packed. In the 32-bit Windows build every field is 4 bytes
// wide except the 2-byte sub-option bits, 170 bytes in all. On a 64-bit host
// the same fields come in the same order, but every pointer field (texts,
// entries, user data, the memory record and the item-information buffer) is
// 8 bytes wide, 238 bytes in all; the "always 0" fields stay 4 bytes wide.
// CommandLayout(pointerSize) gives either layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/byte_order.h"

namespace dunzip {

// Both sides of the record use the program's one little-endian codec.
using util::GetI32;
using util::GetU16;
using util::GetU32;
using util::PutI32;
using util::PutU16;
using util::PutU32;

struct TCommandLayout {
  std::size_t RecordSize, FunctionCode, ZipFile, Reserved12, FileSpec, IndexofItem, Destination;
  std::size_t FreshenFlag, UpdateFlag, OverWriteFlag, QuietFlag, TestFlag, NoDirectoryNamesFlag,
      RecurseFlag, NoDirectoryItemsFlag;
  std::size_t MinorStatusEntry, MinorUserData, MajorStatusEntry, MajorUserData;
  std::size_t ReturnCount, ReturnString, bDiagnostic, bLF2CRLFFlag, DecryptFlag, DecryptCode;
  std::size_t MessageEntry, MessageUserData, SubOptions, MemoryRecord, Reserved114;
  std::size_t RenameEntry, RenameUserData, ExtProgTitle, FurtherValue1, FurtherValue2,
      FurtherValue4, ItemInfoBuffer, SubOptions2, FurtherValue3, FurtherValue5, RenameEntryEx,
      Reserved162, Reserved166;
  std::size_t Size; // the whole record
};

constexpr TCommandLayout CommandLayout(std::size_t pointerSize) {
  TCommandLayout l{};
  std::size_t at = 0;
  // Runs of fields of one width, in record order.
  auto fields = [&at](std::size_t width, auto &...offsets) { ((offsets = at, at += width), ...); };
  const std::size_t p = pointerSize;
  fields(4, l.RecordSize, l.FunctionCode);
  fields(p, l.ZipFile);
  fields(4, l.Reserved12);
  fields(p, l.FileSpec);
  fields(4, l.IndexofItem);
  fields(p, l.Destination);
  fields(4, l.FreshenFlag, l.UpdateFlag, l.OverWriteFlag, l.QuietFlag, l.TestFlag,
         l.NoDirectoryNamesFlag, l.RecurseFlag, l.NoDirectoryItemsFlag);
  fields(p, l.MinorStatusEntry, l.MinorUserData, l.MajorStatusEntry, l.MajorUserData);
  fields(4, l.ReturnCount);
  fields(p, l.ReturnString);
  fields(4, l.bDiagnostic, l.bLF2CRLFFlag, l.DecryptFlag);
  fields(p, l.DecryptCode, l.MessageEntry, l.MessageUserData);
  fields(2, l.SubOptions);
  fields(p, l.MemoryRecord);
  fields(4, l.Reserved114);
  fields(p, l.RenameEntry, l.RenameUserData, l.ExtProgTitle);
  fields(4, l.FurtherValue1, l.FurtherValue2, l.FurtherValue4);
  fields(p, l.ItemInfoBuffer);
  fields(4, l.SubOptions2, l.FurtherValue3, l.FurtherValue5);
  fields(p, l.RenameEntryEx);
  fields(4, l.Reserved162, l.Reserved166);
  l.Size = at;
  return l;
}

// The layout of this build.
constexpr TCommandLayout Cmd = CommandLayout(sizeof(void *));
constexpr std::size_t CommandSize = Cmd.Size;

constexpr TCommandLayout Cmd32 = CommandLayout(4);
static_assert(Cmd32.Size == 170);
static_assert(Cmd32.RecordSize == 0 && Cmd32.FunctionCode == 4 && Cmd32.ZipFile == 8 &&
              Cmd32.Reserved12 == 12 && Cmd32.FileSpec == 16 && Cmd32.IndexofItem == 20 &&
              Cmd32.Destination == 24);
static_assert(Cmd32.FreshenFlag == 28 && Cmd32.UpdateFlag == 32 && Cmd32.OverWriteFlag == 36 &&
              Cmd32.QuietFlag == 40 && Cmd32.TestFlag == 44 && Cmd32.NoDirectoryNamesFlag == 48 &&
              Cmd32.RecurseFlag == 52 && Cmd32.NoDirectoryItemsFlag == 56);
static_assert(Cmd32.MinorStatusEntry == 60 && Cmd32.MinorUserData == 64 &&
              Cmd32.MajorStatusEntry == 68 && Cmd32.MajorUserData == 72 &&
              Cmd32.ReturnCount == 76 && Cmd32.ReturnString == 80);
static_assert(Cmd32.bDiagnostic == 84 && Cmd32.bLF2CRLFFlag == 88 && Cmd32.DecryptFlag == 92 &&
              Cmd32.DecryptCode == 96 && Cmd32.MessageEntry == 100 &&
              Cmd32.MessageUserData == 104 && Cmd32.SubOptions == 108 &&
              Cmd32.MemoryRecord == 110 && Cmd32.Reserved114 == 114);
static_assert(Cmd32.RenameEntry == 118 && Cmd32.RenameUserData == 122 &&
              Cmd32.ExtProgTitle == 126 && Cmd32.FurtherValue1 == 130 &&
              Cmd32.FurtherValue2 == 134 && Cmd32.FurtherValue4 == 138 &&
              Cmd32.ItemInfoBuffer == 142 && Cmd32.SubOptions2 == 146 &&
              Cmd32.FurtherValue3 == 150 && Cmd32.FurtherValue5 == 154 &&
              Cmd32.RenameEntryEx == 158 && Cmd32.Reserved162 == 162 && Cmd32.Reserved166 == 166);
static_assert(CommandLayout(8).Size == 238 && CommandLayout(8).MessageEntry == 136 &&
              CommandLayout(8).SubOptions == 152 && CommandLayout(8).Reserved166 == 234);

// Function codes.
constexpr std::int32_t FcExtract = 8;

// Boolean fields: true is -1, false 0; any non-zero value counts as true.
constexpr std::int32_t CommandTrue = -1;

// Sub-option bits (2-byte field).
constexpr std::uint16_t USO_OVERWRITE_RO = 0x0001;
constexpr std::uint16_t USO_MINORCANCEL = 0x0002;
constexpr std::uint16_t USO_EXTERNALPROG = 0x0004;
constexpr std::uint16_t USO_EXTPROGCANCEL = 0x0008;
constexpr std::uint16_t USO_IGNORELONGNAMES = 0x0010;
constexpr std::uint16_t USO_MANGLELONGNAMES = 0x0020;
constexpr std::uint16_t USO_LEAVEPARTIAL = 0x0040;
constexpr std::uint16_t USO_FORCEREMOVEABLE = 0x0080;
constexpr std::uint16_t USO_LOGZIPRESULTS = 0x0100;
constexpr std::uint16_t USO_IGNOREVOLLABELS = 0x0200;
constexpr std::uint16_t USO_ANSI_NAMES = 0x0800;
constexpr std::uint16_t USO_MODIFY_DATA = 0x1000;
constexpr std::uint16_t USO_MVFROMHD = 0x2000;
constexpr std::uint16_t USO_INHIBIT_PUMP = 0x4000;

// Sub-option-2 bits (4-byte field).
constexpr std::uint32_t USO2_EXTRENAME = 2;
constexpr std::uint32_t USO2_ITEMLIST_ISORDERED = 4;
constexpr std::uint32_t USO2_ITEMLIST_ISINDEXLIST = 8;

// Sizes of the records the command points to.
constexpr std::uint32_t MemoryRecordSize = 28;
constexpr std::uint32_t ItemInfoBufferSize = 2150;

// A failure that concerns one entry leaves the entry's name (as archived,
// zero-terminated, at most ItemNameMax characters) at this offset of the
// item-information buffer, and the system's error of the failed call as the
// calling thread's last error: the program can say what failed, and why,
// after the call.
constexpr std::size_t ItemNameOffset = 70;
constexpr std::size_t ItemNameMax = 259;
static_assert(ItemNameOffset + ItemNameMax + 1 <= ItemInfoBufferSize);

// Pointer fields, as wide as a pointer of this build.
inline void PutPointer(std::uint8_t *record, std::size_t offset, const void *pointer) {
  util::PutLE(record, offset, sizeof(void *), reinterpret_cast<std::uintptr_t>(pointer));
}
inline void *GetPointer(const std::uint8_t *record, std::size_t offset) {
  return reinterpret_cast<void *>(
      static_cast<std::uintptr_t>(util::GetLE(record, offset, sizeof(void *))));
}

} // namespace dunzip
