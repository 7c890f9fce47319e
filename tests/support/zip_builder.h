// The tests' ZIP writer: builds archives in memory, entry by entry, with every
// header field open to change so that broken archives are as easy to make as
// the ones packages carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct TTestEntry {
  std::string Name; // raw name bytes
  std::vector<std::uint8_t> Data;
  std::uint16_t Method = 8; // 0 stored, 8 deflated; others are stored as given
  std::uint16_t Flags = 0;
  std::uint16_t VersionMadeBy = 0x0014;    // DOS, 2.0
  std::uint32_t ExternalAttributes = 0x20; // archive
  std::uint32_t DosDateTime = 0x52642A10;  // 2021-03-04 05:16:32
  std::vector<std::uint8_t> Extra;         // extra field, in both headers
  bool OverrideCrc = false;
  std::uint32_t Crc = 0;
  bool OverrideSize = false;
  std::uint32_t UncompressedSize = 0;
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
