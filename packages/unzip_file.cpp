// TUnzipFile: builds the command record field by field at the offsets of
// dunzip_command.h, calls the library and routes its callbacks to the events.
// No exception may unwind through the library's frames: every entry catches all.
#include "packages/unzip_file.h"

#include <cstdlib>
#include <utility>

#include "packages/box_caption.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "platform/window.h"
#include "util/run_log.h"

namespace packages {

namespace {

TExitHook &ExitHook() {
  static TExitHook hook;
  return hook;
}

void EndProcess(int code) {
  if (ExitHook())
    ExitHook()(code);
  else
    std::exit(code);
}

void Warn(std::string_view text) {
  platform::ShowMessageBox(0, text, BoxCaption, platform::MbIconExclamation | platform::MbOk);
}

std::int32_t Flag(bool set) {
  return set ? dunzip::CommandTrue : 0;
}

TUnzipFile *Component(void *userData) {
  return static_cast<TUnzipFile *>(userData);
}

// Nothing may unwind through the library's frames: what a handler throws
// ends here, and the library gets `onFault`.
template <class TWork> std::int32_t Guarded(std::int32_t onFault, TWork &&work) {
  try {
    return work();
  } catch (...) {
    return onFault;
  }
}

// The status entries answer -1 to cancel, so a handler that throws stops the
// unpacking instead of letting it run on unwatched.
std::int32_t ForwardStatus(const TStatusCallback &event, const char *szItem, std::int32_t Percent) {
  return Guarded(-1, [&] {
    bool doCancel = false;
    if (event)
      event(szItem, Percent, doCancel);
    return doCancel ? -1 : 0;
  });
}

// ItemInfo fields and where they come from in the item-information buffer.
constexpr std::size_t ItemSignedByteFrom = 4;
struct TItemCopy {
  std::size_t To, From, Width;
};
constexpr TItemCopy ItemCopies[] = {
    {2, 8, 4},   {6, 16, 4},   {10, 32, 2},    {12, 34, 2},    {14, 36, 2},
    {16, 28, 4}, {298, 24, 4}, {302, 2118, 4}, {306, 2122, 4},
};
struct TItemText {
  std::size_t To, From, MaxChars;
};
constexpr TItemText ItemTexts[] = {{20, 38, 17}, {38, 70, 259}};
static_assert(38 + 259 + 1 == 298 && 20 + 17 + 1 == 38);

} // namespace

void SetUnzipExitHook(TExitHook hook) {
  ExitHook() = std::move(hook);
}

std::uint16_t SubOptionBits(TUnzipSubOptions options) {
  using E = TUnzipSubOption;
  static constexpr std::pair<E, std::uint16_t> Bits[] = {
      {E::USO_OVERWRITE_RO, dunzip::USO_OVERWRITE_RO},
      {E::USO_MINORCANCEL, dunzip::USO_MINORCANCEL},
      {E::USO_EXTERNALPROG, dunzip::USO_EXTERNALPROG},
      {E::USO_EXTPROGCANCEL, dunzip::USO_EXTPROGCANCEL},
      {E::USO_IGNORELONGNAMES, dunzip::USO_IGNORELONGNAMES},
      {E::USO_MANGLELONGNAMES, dunzip::USO_MANGLELONGNAMES},
      {E::USO_FORCEREMOVEABLE, dunzip::USO_FORCEREMOVEABLE},
      {E::USO_LOGZIPRESULTS, dunzip::USO_LOGZIPRESULTS},
      {E::USO_INHIBIT_PUMP, dunzip::USO_INHIBIT_PUMP},
      {E::USO_MVFROMHD, dunzip::USO_MVFROMHD},
      {E::USO_LEAVEPARTIAL, dunzip::USO_LEAVEPARTIAL},
      {E::USO_ANSI_NAMES, dunzip::USO_ANSI_NAMES},
      {E::USO_IGNOREVOLLABELS, dunzip::USO_IGNOREVOLLABELS},
      {E::USO_MODIFY_DATA, dunzip::USO_MODIFY_DATA},
  };
  std::uint16_t bits = 0;
  for (const auto &[element, bit] : Bits)
    if (options.Contains(element))
      bits = static_cast<std::uint16_t>(bits | bit);
  return bits;
}

std::uint32_t SubOption2Bits(TUnzipSubOptions2 options) {
  using E = TUnzipSubOption2;
  std::uint32_t bits = 0;
  if (options.Contains(E::USO2_EXTRENAME))
    bits |= dunzip::USO2_EXTRENAME;
  if (options.Contains(E::USO2_ITEMLIST_ISORDERED))
    bits |= dunzip::USO2_ITEMLIST_ISORDERED;
  if (options.Contains(E::USO2_ITEMLIST_ISINDEXLIST))
    bits |= dunzip::USO2_ITEMLIST_ISINDEXLIST;
  return bits;
}

namespace {

// The support person's only trace of a program that ended before its run.
void NoteLoadFailure(std::string_view what, std::string_view libraryName, int error) {
  const std::string program = platform::ExecutablePath();
  runlog::NoteFailure(
      what, std::string(platform::FolderPart(program, "\\")) + std::string(libraryName), error);
  runlog::EndRunWithoutResult(
      "the unzip library cannot be used; the program ends with exit code 1");
}

} // namespace

TUnzipFile::TUnzipFile(std::string_view libraryName, const char *entryName) {
  Library = platform::LoadDynamicLibrary(libraryName);
  if (Library == nullptr) {
    NoteLoadFailure("Loading the unzip library", libraryName, platform::LastError());
    Warn(LibraryMissingText);
    EndProcess(1);
    return;
  }
  Entry = reinterpret_cast<dunzip::TDunzipEntry>(platform::FindSymbol(Library, entryName));
  if (Entry == nullptr) {
    NoteLoadFailure(std::string("Finding the entry point ") + entryName + " of", libraryName,
                    platform::LastError());
    Warn(EntryMissingText);
    EndProcess(1);
  }
}

TUnzipFile::~TUnzipFile() {
  Entry = nullptr;
  if (Library != nullptr)
    platform::FreeDynamicLibrary(Library);
}

void TUnzipFile::RefuseDirectAssign() {
  platform::ShowMessageBox(0, DirectAssignText, BoxCaption,
                           platform::MbIconInformation | platform::MbOk);
}

void TUnzipFile::BuildCommand(std::int32_t functionCode) {
  using dunzip::Cmd;
  using dunzip::PutI32;
  using dunzip::PutPointer;
  std::uint8_t *r = Command.data();
  Command.fill(0);
  PutI32(r, Cmd.RecordSize, static_cast<std::int32_t>(Cmd.Size));
  PutI32(r, Cmd.IndexofItem, IndexofItem);

  ItemBuffer.fill(0);
  dunzip::PutU32(ItemBuffer.data(), 0, dunzip::ItemInfoBufferSize);
  PutPointer(r, Cmd.ItemInfoBuffer, ItemBuffer.data());
  PutI32(r, Cmd.FurtherValue1, FurtherValues[0]);
  PutI32(r, Cmd.FurtherValue2, FurtherValues[1]);
  PutI32(r, Cmd.FurtherValue3, FurtherValues[2]);
  PutI32(r, Cmd.FurtherValue4, FurtherValues[3]);
  PutI32(r, Cmd.FurtherValue5, FurtherValues[4]);

  dunzip::TStatusEntry minor = &MinorStatusEntry, major = &MajorStatusEntry;
  dunzip::TMessageEntry message = &MessageEntry;
  PutPointer(r, Cmd.MinorStatusEntry, reinterpret_cast<const void *>(minor));
  PutPointer(r, Cmd.MinorUserData, this);
  PutPointer(r, Cmd.MajorStatusEntry, reinterpret_cast<const void *>(major));
  PutPointer(r, Cmd.MajorUserData, this);
  PutPointer(r, Cmd.MessageEntry, reinterpret_cast<const void *>(message));
  PutPointer(r, Cmd.MessageUserData, this);
  if (lUnzipSubOptions2.Contains(TUnzipSubOption2::USO2_EXTRENAME))
    PutPointer(r, Cmd.RenameEntryEx, reinterpret_cast<const void *>(&RenameEntryEx));
  else
    PutPointer(r, Cmd.RenameEntry, reinterpret_cast<const void *>(&RenameEntry));
  PutPointer(r, Cmd.RenameUserData, this);

  Memory.fill(0);
  PutI32(Memory.data(), MemoryRecordSizeOffset, static_cast<std::int32_t>(Memory.size()));
  PutPointer(Memory.data(), MemoryRecordEntryOffset, reinterpret_cast<const void *>(&MemoryEntry));
  PutPointer(Memory.data(), MemoryRecordUserDataOffset, this);
  PutPointer(r, Cmd.MemoryRecord, Memory.data());

  using F = TUnzipFlag;
  PutI32(r, Cmd.FreshenFlag, Flag(Options.Contains(F::FreshenFlag)));
  PutI32(r, Cmd.UpdateFlag, Flag(Options.Contains(F::UpdateFlag)));
  PutI32(r, Cmd.OverWriteFlag, Flag(Options.Contains(F::OverWriteFlag)));
  PutI32(r, Cmd.QuietFlag, Flag(Options.Contains(F::QuietFlag)));
  PutI32(r, Cmd.TestFlag, Flag(Options.Contains(F::TestFlag)));
  PutI32(r, Cmd.NoDirectoryNamesFlag, Flag(Options.Contains(F::NoDirectoryNamesFlag)));
  PutI32(r, Cmd.RecurseFlag, Flag(Options.Contains(F::RecurseFlag)));
  PutI32(r, Cmd.NoDirectoryItemsFlag, Flag(Options.Contains(F::NoDirectoryItemsFlag)));
  PutI32(r, Cmd.bDiagnostic, Flag(Options.Contains(F::bDiagnostic)));
  PutI32(r, Cmd.bLF2CRLFFlag, Flag(Options.Contains(F::bLF2CRLFFlag)));
  PutI32(r, Cmd.DecryptFlag, Flag(Options.Contains(F::DecryptFlag)));

  dunzip::PutU16(r, Cmd.SubOptions, SubOptionBits(wUnzipSubOptions));
  dunzip::PutU32(r, Cmd.SubOptions2, SubOption2Bits(lUnzipSubOptions2));

  PutPointer(r, Cmd.ZipFile, ZipFile.GetText());
  PutPointer(r, Cmd.FileSpec, FileSpec.GetText());
  PutPointer(r, Cmd.Destination, Destination.GetText());
  PutPointer(r, Cmd.DecryptCode, DecryptCode.GetText());
  PutPointer(r, Cmd.ExtProgTitle, ExtProgTitle.GetText());
  PutPointer(r, Cmd.ReturnString, ReturnString.GetText());
  PutI32(r, Cmd.ReturnCount, ReturnCount);

  PutI32(r, Cmd.FunctionCode, functionCode);
}

TItemInfo DecodeItemInfo(const TItemInfoBuffer &b) {
  TItemInfo info{};
  auto widened = static_cast<std::int16_t>(static_cast<std::int8_t>(b[ItemSignedByteFrom]));
  dunzip::PutU16(info.data(), 0, static_cast<std::uint16_t>(widened));
  for (const TItemCopy &c : ItemCopies)
    for (std::size_t i = 0; i < c.Width; ++i)
      info[c.To + i] = b[c.From + i];
  for (const TItemText &t : ItemTexts)
    for (std::size_t i = 0; i < t.MaxChars && b[t.From + i] != 0; ++i)
      info[t.To + i] = b[t.From + i];
  return info;
}

bool TUnzipFile::Execute(std::int32_t functionCode) {
  if (functionCode == 0)
    return false;
  if (functionCode == 6) {
    // The capacity is 16 bits; a count the holder cannot take is not wrapped.
    std::int32_t wanted = ReturnCount < 0 ? 1 : ReturnCount;
    ReturnString.SetCapacity(static_cast<std::uint16_t>(wanted >= 0xFFFF ? 0xFFFF : wanted + 1));
  }
  BuildCommand(functionCode);
  OsError = 0;
  if (Entry == nullptr) {
    ErrorCode = dunzip::dzInternal;
    return false;
  }
  ErrorCode = Entry(Command.data());
  if (ErrorCode != 0) {
    OsError = platform::TakeOverError();
    return false;
  }
  ReturnCount = dunzip::GetI32(Command.data(), dunzip::Cmd.ReturnCount);
  Info = DecodeItemInfo(ItemBuffer);
  return true;
}

std::string TUnzipFile::FailedItem() const {
  const auto *name = reinterpret_cast<const char *>(ItemBuffer.data() + dunzip::ItemNameOffset);
  std::size_t length = 0;
  while (length < dunzip::ItemNameMax && name[length] != 0)
    ++length;
  return std::string(name, length);
}

std::int32_t DUNZIP_CALL TUnzipFile::MajorStatusEntry(const char *szItem, std::int32_t Percent,
                                                      void *userData) {
  return ForwardStatus(Component(userData)->OnMajorCallback, szItem, Percent);
}

std::int32_t DUNZIP_CALL TUnzipFile::MinorStatusEntry(const char *szItem, std::int32_t Percent,
                                                      void *userData) {
  return ForwardStatus(Component(userData)->OnMinorCallback, szItem, Percent);
}

std::int32_t DUNZIP_CALL TUnzipFile::MessageEntry(std::uint16_t MsgID, std::uint16_t mbType,
                                                  std::uint32_t p1, std::uint32_t p2,
                                                  const char *lpsz1, const char *lpsz2,
                                                  void *userData) {
  return Guarded(0, [&] {
    std::int32_t rtnResult = 0;
    if (const auto &event = Component(userData)->OnMessageCallback)
      event(MsgID, mbType, p1, p2, lpsz1, lpsz2, rtnResult);
    return rtnResult;
  });
}

std::int32_t DUNZIP_CALL TUnzipFile::RenameEntry(PDZRename dzr, void *userData) {
  return Guarded(0, [&] {
    if (const auto &event = Component(userData)->OnRenameCallback)
      event(dzr);
    return 0;
  });
}

std::int32_t DUNZIP_CALL TUnzipFile::RenameEntryEx(PDZRenameEX dzrex, void *userData) {
  return Guarded(0, [&] {
    if (const auto &event = Component(userData)->OnRenameCallbackEX)
      event(dzrex);
    return 0;
  });
}

std::int32_t DUNZIP_CALL TUnzipFile::MemoryEntry(std::int32_t lAction, char *lpMemBuf,
                                                 std::uint32_t *pdwSize, std::uint32_t dwTotalReadL,
                                                 std::uint32_t dwTotalReadH,
                                                 std::uint32_t dwTotalWrittenL,
                                                 std::uint32_t dwTotalWrittenH, void *userData,
                                                 std::int32_t *plRet) {
  return Guarded(0, [&] {
    if (const auto &event = Component(userData)->OnMemToMem)
      event(lAction, lpMemBuf, pdwSize, dwTotalReadL, dwTotalReadH, dwTotalWrittenL,
            dwTotalWrittenH, plRet);
    return 0;
  });
}

void ApplyDialogDesignValues(TUnzipFile &unzip) {
  unzip.lpszZipFile().SetText("C:\\TEST\\TEST.ZIP");
  unzip.lpszFileSpec().SetText("*.*");
  unzip.IndexofItem = -1;
  unzip.lpszDestination().SetText("C:\\HELP");
  unzip.Options = {TUnzipFlag::OverWriteFlag, TUnzipFlag::NoDirectoryNamesFlag,
                   TUnzipFlag::NoDirectoryItemsFlag};
  unzip.lpszDecryptCode().Clear();
  unzip.wUnzipSubOptions = {TUnzipSubOption::USO_OVERWRITE_RO, TUnzipSubOption::USO_MINORCANCEL};
  unzip.lUnzipSubOptions2 = {};
  unzip.lpszExtProgTitle().Clear();
  unzip.lpszReturnString().Clear();
}

} // namespace packages
