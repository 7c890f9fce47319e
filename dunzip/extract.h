// Function code 8: extracting the matching entries of an archive into a
// destination folder through the platform seam, with progress and questions
// going back to the caller's entries.
#pragma once

#include <cstdint>
#include <string>

#include "dunzip/dunzip_api.h"

namespace dunzip {

struct TExtractRequest {
  std::string ZipFile;
  std::string FileSpec;          // Windows wildcards, matched against the file name
  std::string Destination;       // folder, with or without a trailing backslash
  std::int32_t IndexofItem = -1; // -1: every matching entry; else only this one
  bool OverWrite = false;
  bool NoDirectoryNames = false;
  bool NoDirectoryItems = false;
  bool Test = false; // check every entry, write nothing
  std::uint16_t SubOptions = 0;
  TStatusEntry MajorStatus = nullptr;
  void *MajorUserData = nullptr;
  TStatusEntry MinorStatus = nullptr;
  void *MinorUserData = nullptr;
  TMessageEntry Message = nullptr;
  void *MessageUserData = nullptr;
};

// What a failure concerns: the entry (as archived; empty when none) and the
// system's error of the call that failed (0 when no call did).
struct TExtractFailure {
  std::string Item;
  int OsError = 0;
};

// `extracted` counts the files written (or checked, in a test run).
TDunzipResult Extract(const TExtractRequest &request, std::uint32_t &extracted,
                      TExtractFailure *failure = nullptr);

// Decodes the command record and runs its function code. Never throws.
std::int32_t RunCommand(void *command) noexcept;

} // namespace dunzip
