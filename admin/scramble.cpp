// Record scrambling. Every constant here is part of the host's file format.
#include "admin/scramble.h"

namespace admin {

namespace {

std::int32_t EffectiveSeed(std::int32_t seed) {
  std::int32_t s = seed == 0 ? DefaultScrambleSeed : seed;
  if (s < ScrambleSeedMin)
    s = ScrambleSeedMin;
  if (s > ScrambleSeedMax)
    s = ScrambleSeedMax;
  return s;
}

// The generator is reseeded for every byte from the seed and the position.
std::uint8_t KeyByte(std::int64_t index, std::int32_t effectiveSeed) {
  return ScrambleKeyOfState(static_cast<std::uint32_t>(effectiveSeed) + ScrambleOffset(index));
}

} // namespace

void ScrambleBuffer(void *buffer, std::int32_t length, std::int32_t seed) {
  if (buffer == nullptr || length < 1 || length > ScrambleMaxLength)
    return;
  std::int32_t s = EffectiveSeed(seed);
  std::uint8_t *bytes = static_cast<std::uint8_t *>(buffer);
  for (std::int32_t i = 0; i < length; ++i)
    bytes[i] ^= KeyByte(i, s);
}

std::uint8_t ScrambleKey(std::int64_t index, std::int32_t seed) {
  return KeyByte(index, EffectiveSeed(seed));
}

} // namespace admin
