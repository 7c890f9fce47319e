// Whole reads: the loop that every fixed-size record read needs.
#include "util/file_read.h"

namespace util {

bool ReadUpTo(platform::TFile &file, void *buffer, std::uint32_t count, std::uint32_t &got) {
  got = 0;
  std::uint8_t *bytes = static_cast<std::uint8_t *>(buffer);
  while (got < count) {
    std::uint32_t n = 0;
    if (!file.Read(bytes + got, count - got, n))
      return false;
    if (n == 0)
      break;
    got += n;
  }
  return true;
}

} // namespace util
