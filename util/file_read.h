// Whole reads through the seam's file, which may deliver fewer bytes per call
// than asked for.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace util {

// Reads until `count` bytes have arrived or the file ends (`got` says how many);
// false on an I/O error.
[[nodiscard]] bool ReadUpTo(platform::TFile &file, void *buffer, std::uint32_t count,
                            std::uint32_t &got);

} // namespace util
