// The host's record scrambling: every byte XORed with a key byte drawn from a
// seeded linear congruential generator. Applying it twice restores the bytes.
#pragma once

#include <cstdint>

namespace admin {

constexpr std::int32_t SettingsSeed = 2731946;
constexpr std::int32_t DefaultScrambleSeed = 1473829;
constexpr std::int32_t ScrambleSeedMin = 100000;
constexpr std::int32_t ScrambleSeedMax = 2000000;
constexpr std::uint32_t ScrambleMultiplier = 134775813;
constexpr std::uint32_t ScrambleIncrement = 1;
constexpr std::int32_t ScrambleMaxLength = 1000000000;

// Scrambles or unscrambles `length` bytes in place, key bytes starting at
// index 0. A length outside 1..ScrambleMaxLength leaves the buffer as it is.
void ScrambleBuffer(void *buffer, std::int32_t length, std::int32_t seed);

// The pieces of the key stream, for tests and tools: the position offset
// round(5 * i / 3), the key byte that one generator step makes of a state, and
// the key byte of position `index` under `seed` (never 0).
constexpr std::uint32_t ScrambleOffset(std::int64_t index) {
  // 5 * i / 3 never ends in exactly one half, so rounding is floor((5i + 1) / 3).
  return static_cast<std::uint32_t>((5 * index + 1) / 3);
}
constexpr std::uint8_t ScrambleKeyOfState(std::uint32_t state) {
  std::uint32_t x = state * ScrambleMultiplier + ScrambleIncrement;
  std::uint8_t k = static_cast<std::uint8_t>(x >> 24);
  return k == 0 ? 1 : k;
}
std::uint8_t ScrambleKey(std::int64_t index, std::int32_t seed);

} // namespace admin
