// The tests' ZIP writer: builds archives in memory, entry by entry, with every
// header field open to change so that broken archives are as easy to make as
// the ones packages carry.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/zip_records.h"

namespace testing_support {

// The header fields as written, but the compressed size is always that of the
// data as stored, and CRC-32 and size are those of Data unless overridden.
struct TTestEntry : tools::TZipHeader {
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
