// Raw bytes for the administration tests: records as stored, scrambled.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "admin/scramble.h"
#include "tests/support/test_support.h"

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

// A record whose bytes are PatternBytes(seed).
template <class TRecord> TRecord Patterned(std::uint32_t seed) {
  TRecord r;
  const Bytes p = testing_support::PatternBytes(sizeof r.Bytes, seed);
  std::memcpy(r.Bytes, p.data(), p.size());
  return r;
}

} // namespace admin_test
