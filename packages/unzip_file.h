// The unzip component: loads DUNZIP32.DLL, keeps the settings of an unzip
// operation as properties, packs them into the library's command record and
// passes the library's progress and message callbacks on to its owner as events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "dunzip/dunzip_api.h"
#include "dunzip/dunzip_command.h"
#include "packages/lpstr.h"

namespace packages {

// A set of the elements of an enumeration, one bit per element in order.
template <typename E> class TSet {
public:
  TSet() = default;
  TSet(std::initializer_list<E> elements) {
    for (E e : elements)
      Include(e);
  }
  void Include(E e) { Bits |= Bit(e); }
  void Exclude(E e) { Bits &= ~Bit(e); }
  [[nodiscard]] bool Contains(E e) const { return (Bits & Bit(e)) != 0; }
  [[nodiscard]] bool Empty() const { return Bits == 0; }
  friend bool operator==(TSet a, TSet b) { return a.Bits == b.Bits; }
  friend bool operator!=(TSet a, TSet b) { return a.Bits != b.Bits; }

private:
  static std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
  std::uint32_t Bits = 0;
};

enum class TUnzipFlag {
  FreshenFlag,
  UpdateFlag,
  OverWriteFlag,
  QuietFlag,
  TestFlag,
  NoDirectoryNamesFlag,
  RecurseFlag,
  NoDirectoryItemsFlag,
  bDiagnostic,
  bLF2CRLFFlag,
  DecryptFlag,
};
using TUnzipFlags = TSet<TUnzipFlag>;

enum class TUnzipSubOption {
  USO_OVERWRITE_RO,
  USO_MINORCANCEL,
  USO_EXTERNALPROG,
  USO_EXTPROGCANCEL,
  USO_IGNORELONGNAMES,
  USO_MANGLELONGNAMES,
  USO_FORCEREMOVEABLE,
  USO_LOGZIPRESULTS,
  USO_INHIBIT_PUMP,
  USO_MVFROMHD,
  USO_LEAVEPARTIAL,
  USO_ANSI_NAMES,
  USO_IGNOREVOLLABELS,
  USO_MODIFY_DATA,
};
using TUnzipSubOptions = TSet<TUnzipSubOption>;

enum class TUnzipSubOption2 { USO2_EXTRENAME, USO2_ITEMLIST_ISORDERED, USO2_ITEMLIST_ISINDEXLIST };
using TUnzipSubOptions2 = TSet<TUnzipSubOption2>;

// The bits the record carries for a set (the values are not in element order).
std::uint16_t SubOptionBits(TUnzipSubOptions options);
std::uint32_t SubOption2Bits(TUnzipSubOptions2 options);

// Records the library passes to the rename events; this program never looks inside.
struct TDZRename;
struct TDZRenameEX;
using PDZRename = TDZRename *;
using PDZRenameEX = TDZRenameEX *;

using TStatusCallback =
    std::function<void(const char *szItem, std::int32_t Percent, bool &DoCancel)>;
using TMessageCallback = std::function<void(std::uint16_t MsgID, std::uint16_t mbType,
                                            std::uint32_t p1, std::uint32_t p2, const char *lpsz1,
                                            const char *lpsz2, std::int32_t &RtnResult)>;
using TRenameCallback = std::function<void(PDZRename dzr)>;
using TRenameCallbackEX = std::function<void(PDZRenameEX dzrex)>;
using TMemToMemCallback = std::function<void(
    std::int32_t lAction, char *lpMemBuf, std::uint32_t *pdwSize, std::uint32_t dwTotalReadL,
    std::uint32_t dwTotalReadH, std::uint32_t dwTotalWrittenL, std::uint32_t dwTotalWrittenH,
    std::int32_t *plRet)>;

class TDynaZip {
public:
  virtual ~TDynaZip() = default;

  TStatusCallback OnMajorCallback;
  TStatusCallback OnMinorCallback;
  TMessageCallback OnMessageCallback;
  TRenameCallback OnRenameCallback;
  TRenameCallbackEX OnRenameCallbackEX;
  TMemToMemCallback OnMemToMem;
};

// The memory record the command points to: its size, the memory entry and the
// user data; the rest stays zero.
constexpr std::size_t MemoryRecordSizeOffset = 0;
constexpr std::size_t MemoryRecordEntryOffset = 4;
constexpr std::size_t MemoryRecordUserDataOffset = MemoryRecordEntryOffset + sizeof(void *);
static_assert(MemoryRecordUserDataOffset + sizeof(void *) <= dunzip::MemoryRecordSize);

// ItemInfo: filled from the item-information buffer after a successful call.
constexpr std::size_t ItemInfoSize = 310;
using TItemInfoBuffer = std::array<std::uint8_t, dunzip::ItemInfoBufferSize>;
using TItemInfo = std::array<std::uint8_t, ItemInfoSize>;
TItemInfo DecodeItemInfo(const TItemInfoBuffer &buffer);

// What happens after the "could not load" box; std::exit by default. Tests
// replace it to watch the exit code; a hook that returns leaves the component
// without a library, and every Execute then fails.
using TExitHook = std::function<void(int exitCode)>;
void SetUnzipExitHook(TExitHook hook);

class TUnzipFile : public TDynaZip {
public:
  static constexpr std::string_view DirectAssignText =
      "Cannot Directly assign a value to type LPSTR.  Use SetText";
  static constexpr std::string_view LibraryMissingText = "Could not load DUNZIP32.DLL!";
  static constexpr std::string_view EntryMissingText = "Could not load dunzip function!";

  // Loads the library and finds its entry first; on failure shows the warning
  // box and ends the process through the exit hook with code 1.
  TUnzipFile(std::string_view libraryName = dunzip::DunzipLibraryName,
             const char *entryName = dunzip::DunzipEntryName);
  ~TUnzipFile() override;
  TUnzipFile(const TUnzipFile &) = delete;
  TUnzipFile &operator=(const TUnzipFile &) = delete;

  // Holder properties: read gives the holder, whose SetText sets the text;
  // writing a holder directly only shows the information box.
  TLPStr &lpszZipFile() { return ZipFile; }
  TLPStr &lpszFileSpec() { return FileSpec; }
  TLPStr &lpszDestination() { return Destination; }
  TLPStr &lpszDecryptCode() { return DecryptCode; }
  TLPStr &lpszExtProgTitle() { return ExtProgTitle; }
  TLPStr &lpszReturnString() { return ReturnString; }
  void SetlpszZipFile(const TLPStr &) { RefuseDirectAssign(); }
  void SetlpszFileSpec(const TLPStr &) { RefuseDirectAssign(); }
  void SetlpszDestination(const TLPStr &) { RefuseDirectAssign(); }
  void SetlpszDecryptCode(const TLPStr &) { RefuseDirectAssign(); }
  void SetlpszExtProgTitle(const TLPStr &) { RefuseDirectAssign(); }
  void SetlpszReturnString(const TLPStr &) { RefuseDirectAssign(); }

  std::int32_t IndexofItem = 0;
  TUnzipFlags Options;
  TUnzipSubOptions wUnzipSubOptions;
  TUnzipSubOptions2 lUnzipSubOptions2;

  // Result of the last library call.
  std::int32_t ErrorCode = 0;
  // The system's error that the library left with a failure (0: none).
  int OsError = 0;
  // Exchanged with the library (offset 76 of the record).
  std::int32_t ReturnCount = 0;
  // Passed to the library; zero in this program.
  std::array<std::int32_t, 5> FurtherValues{};

  // Function code 0 does nothing and gives false. Otherwise builds the record,
  // calls the library and gives true when it returned 0.
  // The outcome also stays in ErrorCode, which callers may read instead.
  bool Execute(std::int32_t functionCode);

  [[nodiscard]] bool LibraryLoaded() const { return Entry != nullptr; }
  // The entry the last failure concerns, as the library named it in the
  // item-information buffer; empty when it named none.
  [[nodiscard]] std::string FailedItem() const;
  // The record of the last Execute, and the buffers it pointed to.
  const std::uint8_t *CommandRecord() const { return Command.data(); }
  const std::uint8_t *MemoryRecord() const { return Memory.data(); }
  const std::uint8_t *ItemInfoBuffer() const { return ItemBuffer.data(); }
  const std::uint8_t *ItemInfo() const { return Info.data(); }

  // Library-side entry points, exposed so that tests can drive them as the
  // library would; each forwards to the component passed as user data.
  static std::int32_t DUNZIP_CALL MajorStatusEntry(const char *szItem, std::int32_t Percent,
                                                   void *userData);
  static std::int32_t DUNZIP_CALL MinorStatusEntry(const char *szItem, std::int32_t Percent,
                                                   void *userData);
  static std::int32_t DUNZIP_CALL MessageEntry(std::uint16_t MsgID, std::uint16_t mbType,
                                               std::uint32_t p1, std::uint32_t p2,
                                               const char *lpsz1, const char *lpsz2,
                                               void *userData);
  static std::int32_t DUNZIP_CALL RenameEntry(PDZRename dzr, void *userData);
  static std::int32_t DUNZIP_CALL RenameEntryEx(PDZRenameEX dzrex, void *userData);
  static std::int32_t DUNZIP_CALL MemoryEntry(std::int32_t lAction, char *lpMemBuf,
                                              std::uint32_t *pdwSize, std::uint32_t dwTotalReadL,
                                              std::uint32_t dwTotalReadH,
                                              std::uint32_t dwTotalWrittenL,
                                              std::uint32_t dwTotalWrittenH, void *userData,
                                              std::int32_t *plRet);

private:
  void RefuseDirectAssign();
  void BuildCommand(std::int32_t functionCode);

  void *Library = nullptr;
  dunzip::TDunzipEntry Entry = nullptr;

  TLPStr ZipFile, FileSpec, Destination, DecryptCode, ExtProgTitle, ReturnString;
  std::array<std::uint8_t, dunzip::CommandSize> Command{};
  std::array<std::uint8_t, dunzip::MemoryRecordSize> Memory{};
  TItemInfoBuffer ItemBuffer{};
  TItemInfo Info{};
};

// The values that the update dialog's form description gives its component:
// file spec "*.*", every item, overwrite (read-only too) without folder names
// or folder items. The two paths are replaced before every use.
void ApplyDialogDesignValues(TUnzipFile &unzip);

} // namespace packages
