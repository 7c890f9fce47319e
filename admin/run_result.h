// The result codes of an update run: stored as the header's LastResult, shown
// in the failure message, and explained by zrktool. One table for all three.
#pragma once

#include <cstdint>
#include <string>

namespace admin {

constexpr std::int32_t RunOk = 0;
constexpr std::int32_t RunChecksumFailed = -1;
constexpr std::int32_t RunUnpackFailed = -2;
constexpr std::int32_t RunBadDestIndex = -3;
constexpr std::int32_t RunDestFolderMissing = -4;
constexpr std::int32_t RunCopyFailed = -5;
constexpr std::int32_t RunRecordNotRewritten = -6;
constexpr std::int32_t RunRecordNotRead = -7;
constexpr std::int32_t RunFoldersInvalid = -8;
constexpr std::int32_t RunRecoveryFailed = -9;

struct TRunResultInfo {
  std::int32_t Code;
  // English, for the developers' and support's tools.
  const char *Meaning;
  // The German reason line of the failure message; null when it has none.
  const char *Reason;
};

// The entry of `code`, or null for a code that no run sets.
const TRunResultInfo *FindRunResult(std::int32_t code);
// The meaning of `code`, "unknown result code" for one that no run sets.
std::string RunResultMeaning(std::int32_t code);

} // namespace admin
