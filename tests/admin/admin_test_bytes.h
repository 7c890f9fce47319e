// Raw bytes for the administration tests: records as stored, scrambled.
#pragma once

#include <cstdint>
#include <vector>

#include "admin/scramble.h"

namespace admin_test {

using Bytes = std::vector<std::uint8_t>;

// Scrambling and unscrambling are one operation.
inline Bytes Scrambled(Bytes bytes, std::int32_t seed) {
  admin::ScrambleBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()), seed);
  return bytes;
}

template <class TRecord> Bytes BytesOf(const TRecord &r) {
  return Bytes(r.Bytes, r.Bytes + sizeof r.Bytes);
}

} // namespace admin_test
