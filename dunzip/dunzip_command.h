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
  auto field = [&at](std::size_t &offset, std::size_t width) {
    offset = at;
    at += width;
  };
  const std::size_t p = pointerSize;
  field(l.RecordSize, 4);
  field(l.FunctionCode, 4);
  field(l.ZipFile, p);
  field(l.Reserved12, 4);
  field(l.FileSpec, p);
  field(l.IndexofItem, 4);
  field(l.Destination, p);
  field(l.FreshenFlag, 4);
  field(l.UpdateFlag, 4);
  field(l.OverWriteFlag, 4);
  field(l.QuietFlag, 4);
  field(l.TestFlag, 4);
  field(l.NoDirectoryNamesFlag, 4);
  field(l.RecurseFlag, 4);
  field(l.NoDirectoryItemsFlag, 4);
  field(l.MinorStatusEntry, p);
  field(l.MinorUserData, p);
  field(l.MajorStatusEntry, p);
  field(l.MajorUserData, p);
  field(l.ReturnCount, 4);
  field(l.ReturnString, p);
  field(l.bDiagnostic, 4);
  field(l.bLF2CRLFFlag, 4);
  field(l.DecryptFlag, 4);
  field(l.DecryptCode, p);
  field(l.MessageEntry, p);
  field(l.MessageUserData, p);
  field(l.SubOptions, 2);
  field(l.MemoryRecord, p);
  field(l.Reserved114, 4);
  field(l.RenameEntry, p);
  field(l.RenameUserData, p);
  field(l.ExtProgTitle, p);
  field(l.FurtherValue1, 4);
  field(l.FurtherValue2, 4);
  field(l.FurtherValue4, 4);
  field(l.ItemInfoBuffer, p);
  field(l.SubOptions2, 4);
  field(l.FurtherValue3, 4);
  field(l.FurtherValue5, 4);
  field(l.RenameEntryEx, p);
  field(l.Reserved162, 4);
  field(l.Reserved166, 4);
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

// Pointer fields, as wide as a pointer of this build.
inline void PutPointer(std::uint8_t *record, std::size_t offset, const void *pointer) {
  util::PutLE(record, offset, sizeof(void *), reinterpret_cast<std::uintptr_t>(pointer));
}
inline void *GetPointer(const std::uint8_t *record, std::size_t offset) {
  return reinterpret_cast<void *>(
      static_cast<std::uintptr_t>(util::GetLE(record, offset, sizeof(void *))));
}

} // namespace dunzip
