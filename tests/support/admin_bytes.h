// The host's records as raw bytes, for tests that lay files out by hand: a
// record's bytes, and bytes scrambled (or unscrambled, the same) on their own.
#pragma once

#include <cstdint>
#include <vector>

#include "admin/scramble.h"

namespace testing_support {

template <class TRecord> std::vector<std::uint8_t> BytesOf(const TRecord &record) {
  return std::vector<std::uint8_t>(record.Bytes, record.Bytes + sizeof record.Bytes);
}

inline std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> bytes, std::int32_t seed) {
  admin::ScrambleBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()), seed);
  return bytes;
}

} // namespace testing_support
