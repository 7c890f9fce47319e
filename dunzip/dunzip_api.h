// The public face of DUNZIP32: the calling convention of the library entry and
// of the callback entries, their signatures and the library's result codes.
// Shared by the library and by the program side that loads it at run time.
#pragma once

#include <cstdint>

// DUNZIP_BUILDING is set only while the library itself is built; the program
// side loads the entry by name and never links against it.
#ifdef _WIN32
#define DUNZIP_CALL __stdcall
#ifdef DUNZIP_BUILDING
#define DUNZIP_EXPORT __declspec(dllexport)
#endif
#else
#define DUNZIP_CALL
#ifdef DUNZIP_BUILDING
#define DUNZIP_EXPORT __attribute__((visibility("default")))
#endif
#endif
#ifndef DUNZIP_EXPORT
#define DUNZIP_EXPORT
#endif

namespace dunzip {

// Name the program loads the library by, and the name of its single entry.
constexpr char DunzipLibraryName[] = "DUNZIP32.DLL";
constexpr char DunzipEntryName[] = "dunzip";

// The library entry: takes the command record (see dunzip_command.h).
using TDunzipEntry = std::int32_t(DUNZIP_CALL *)(void *command);

// Major and minor status entry. Percent runs from 0 to 100; a non-zero result
// asks to cancel (always honoured for the major entry, for the minor entry only
// with USO_MINORCANCEL).
using TStatusEntry = std::int32_t(DUNZIP_CALL *)(const char *szItem, std::int32_t Percent,
                                                 void *userData);
// Message entry: asks a question (MsgID below, mbType a Windows message box
// type) and returns the answer as a Windows dialog result (IDOK, IDYES, ...).
using TMessageEntry = std::int32_t(DUNZIP_CALL *)(std::uint16_t MsgID, std::uint16_t mbType,
                                                  std::uint32_t p1, std::uint32_t p2,
                                                  const char *lpsz1, const char *lpsz2,
                                                  void *userData);

// Questions asked through the message entry; lpsz1 is the target path.
constexpr std::uint16_t MsgOverwriteExisting = 1;
constexpr std::uint16_t MsgOverwriteReadOnly = 2;
constexpr std::uint16_t MbYesNo = 0x0004;
constexpr std::int32_t IdOk = 1;
constexpr std::int32_t IdYes = 6;

// Results of the entry: 0 for success, a small positive code otherwise.
enum TDunzipResult : std::int32_t {
  dzOk = 0,
  dzNotSupported = 1, // function code other than 8
  dzBadCommand = 2,   // null or malformed command record
  dzOpenFailed = 3,   // the archive cannot be opened or read
  dzBadArchive = 4,   // truncated or inconsistent archive
  dzCrcError = 5,     // an entry's data does not match its CRC-32 or size
  dzUnsupported = 6,  // encrypted entry or unsupported compression method
  dzBadName = 7,      // an entry name that cannot be used as a Windows file name
  dzWriteFailed = 8,  // creating, writing or finishing an output file failed
  dzCancelled = 9,    // a status entry asked to cancel
  dzInternal = 10,    // anything unexpected (out of memory, ...)
  dzNoSpace = 11,     // the files would not fit on the destination's volume
};

// A result's name and meaning, for a log that would otherwise show a bare
// number: "dzWriteFailed (creating, writing or finishing an output file failed)".
inline const char *DunzipResultText(std::int32_t result) {
  static const char *const Texts[] = {
      "dzOk (success)",
      "dzNotSupported (function code other than 8)",
      "dzBadCommand (null or malformed command record)",
      "dzOpenFailed (the archive cannot be opened or read)",
      "dzBadArchive (truncated or inconsistent archive)",
      "dzCrcError (an entry's data does not match its CRC-32 or size)",
      "dzUnsupported (encrypted entry or unsupported compression method)",
      "dzBadName (an entry name that cannot be used as a Windows file name)",
      "dzWriteFailed (creating, writing or finishing an output file failed)",
      "dzCancelled (a status entry asked to cancel)",
      "dzInternal (anything unexpected)",
      "dzNoSpace (the files would not fit on the destination's volume)",
  };
  static_assert(sizeof(Texts) / sizeof(Texts[0]) == dzNoSpace + 1);
  return result >= 0 && result <= dzNoSpace ? Texts[result] : "(no result of the library)";
}

// The library entry itself (C linkage, so its symbol is plain "dunzip").
extern "C" DUNZIP_EXPORT std::int32_t DUNZIP_CALL dunzip(void *command);

} // namespace dunzip
