// Whole reads through the seam's file, which may deliver fewer bytes per call
// than asked for.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace util {

// Reads until `count` bytes have arrived or the file ends (`got` says how many);
// false on an I/O error.
[[nodiscard]] inline bool ReadUpTo(platform::TFile &file, void *buffer, std::uint32_t count,
                                   std::uint32_t &got) {
  got = 0;
  while (got < count) {
    std::uint32_t n = 0;
    if (!file.Read(static_cast<std::uint8_t *>(buffer) + got, count - got, n))
      return false;
    if (n == 0)
      break;
    got += n;
  }
  return true;
}

} // namespace util
