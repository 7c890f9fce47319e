// Little-endian field access at fixed offsets, whatever the host: the command
// record and the ZIP headers are both read and written through these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dunzip {

inline void PutU16(std::uint8_t *record, std::size_t offset, std::uint16_t value) {
  record[offset] = static_cast<std::uint8_t>(value);
  record[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutU32(std::uint8_t *record, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void PutI32(std::uint8_t *record, std::size_t offset, std::int32_t value) {
  PutU32(record, offset, static_cast<std::uint32_t>(value));
}
inline std::uint16_t GetU16(const std::uint8_t *record, std::size_t offset) {
  return static_cast<std::uint16_t>(record[offset] | (record[offset + 1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t *record, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | record[offset + i];
  return value;
}
inline std::uint64_t GetU64(const std::uint8_t *record, std::size_t offset) {
  return GetU32(record, offset) | (std::uint64_t(GetU32(record, offset + 4)) << 32);
}
inline std::int32_t GetI32(const std::uint8_t *record, std::size_t offset) {
  return static_cast<std::int32_t>(GetU32(record, offset));
}

} // namespace dunzip
