// A small ZIP writer for the tests: builds archives in memory, entry by entry,
// with every header field open to change so that broken archives are easy to
// make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dunzip_test {

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
};

// The archive bytes. Data descriptors are written when an entry has flag bit 3.
std::vector<std::uint8_t> BuildZip(const std::vector<TTestEntry> &entries);

std::uint32_t Crc32(const std::vector<std::uint8_t> &data);

} // namespace dunzip_test
