// The tests' ZIP writer: builds archives in memory, entry by entry, with every
// header field open to change so that broken archives are as easy to make as
// the ones packages carry. It lays out its records itself, apart from
// update build's writer, so that a fault of one is not copied by the other.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// What a local and a central header say of one entry.
struct TZipHeader {
  std::string Name; // raw name bytes
  std::vector<std::uint8_t> Extra;
  std::uint16_t VersionMadeBy = 0x0014; // DOS, 2.0
  std::uint16_t Flags = 0;              // bit 3: data descriptor; bit 11: UTF-8 name
  std::uint16_t Method = 8;
  std::uint32_t DosDateTime = 0; // date in the high word
  std::uint32_t Crc = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint32_t ExternalAttributes = 0x20; // archive
  std::uint32_t LocalHeaderOffset = 0;     // central header only
};

// The header fields as written, but the compressed size is always that of the
// data as stored, and CRC-32 and size are those of Data unless overridden.
struct TTestEntry : TZipHeader {
  TTestEntry() { DosDateTime = 0x52642A10; } // 2021-03-04 05:16:32
  TTestEntry(std::string name, std::vector<std::uint8_t> data, std::uint16_t method = 8)
      : TTestEntry() {
    Name = std::move(name);
    Data = std::move(data);
    Method = method;
  }
  std::vector<std::uint8_t> Data;
  // Method: 0 stored, 8 deflated; others are stored as given.
  bool OverrideCrc = false;
  bool OverrideSize = false;
  // Not -1: the central record names this offset as its local header, and
  // no local header or data of its own is written (overlapping entries).
  std::int64_t CentralOffset = -1;
};

// The archive bytes. Data descriptors are written when an entry has flag bit 3.
std::vector<std::uint8_t> BuildZip(const std::vector<TTestEntry> &entries);

std::uint32_t Crc32(const std::vector<std::uint8_t> &data);

// DOS date-time of a local time (date in the high word; even seconds).
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

} // namespace testing_support
