// Little-endian integers at fixed offsets of a byte record, whatever the
// host: the host's records, package files, the unzip library's command record
// and ZIP headers are all read and written through these. Header-only, so that
// the unzip library can use it without linking anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace util {

// `width` bytes, 1 to 8, lowest first.
inline std::uint64_t GetLE(const std::uint8_t *record, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;)
    value = (value << 8) | record[offset + i];
  return value;
}
inline void PutLE(std::uint8_t *record, std::size_t offset, std::size_t width,
                  std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i, value >>= 8)
    record[offset + i] = static_cast<std::uint8_t>(value);
}

inline std::uint16_t GetU16(const std::uint8_t *record, std::size_t offset) {
  return static_cast<std::uint16_t>(GetLE(record, offset, 2));
}
inline std::uint32_t GetU32(const std::uint8_t *record, std::size_t offset) {
  return static_cast<std::uint32_t>(GetLE(record, offset, 4));
}
inline std::uint64_t GetU64(const std::uint8_t *record, std::size_t offset) {
  return GetLE(record, offset, 8);
}
inline std::int32_t GetI32(const std::uint8_t *record, std::size_t offset) {
  return static_cast<std::int32_t>(GetU32(record, offset));
}
inline std::int64_t GetI64(const std::uint8_t *record, std::size_t offset) {
  return static_cast<std::int64_t>(GetU64(record, offset));
}

inline void PutU16(std::uint8_t *record, std::size_t offset, std::uint16_t value) {
  PutLE(record, offset, 2, value);
}
inline void PutU32(std::uint8_t *record, std::size_t offset, std::uint32_t value) {
  PutLE(record, offset, 4, value);
}
inline void PutU64(std::uint8_t *record, std::size_t offset, std::uint64_t value) {
  PutLE(record, offset, 8, value);
}
inline void PutI32(std::uint8_t *record, std::size_t offset, std::int32_t value) {
  PutU32(record, offset, static_cast<std::uint32_t>(value));
}
inline void PutI64(std::uint8_t *record, std::size_t offset, std::int64_t value) {
  PutU64(record, offset, static_cast<std::uint64_t>(value));
}

// Appending, for records written field after field.
inline void AppendLE(std::vector<std::uint8_t> &out, std::size_t width, std::uint64_t value) {
  out.resize(out.size() + width);
  PutLE(out.data(), out.size() - width, width, value);
}
inline void AppendU16(std::vector<std::uint8_t> &out, std::uint16_t value) {
  AppendLE(out, 2, value);
}
inline void AppendU32(std::vector<std::uint8_t> &out, std::uint32_t value) {
  AppendLE(out, 4, value);
}

} // namespace util
