// A small ZIP writer for the tests: stored or deflated entries, folder items,
// DOS dates; enough to make the archives that packages carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct TZipItem {
  std::string Name; // "/" separates folders; a name ending in "/" is a folder item
  std::vector<std::uint8_t> Data;
  std::uint32_t DosTime = 0; // DOS date in the high word, time in the low word
  bool Deflate = false;
};

std::vector<std::uint8_t> BuildZip(const std::vector<TZipItem> &items);

// DOS date-time of a local time (even seconds).
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

} // namespace testing_support
