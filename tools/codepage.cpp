// Windows-1252 <-> UTF-8. Only 0x80..0x9F differ from Latin-1; the table gives
// their Unicode code points (undefined ones map to the same C1 control).
#include "tools/codepage.h"

#include <cstdint>
#include <utility>

namespace tools {

namespace {

constexpr std::uint16_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t CodePointOf(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F)
    return HighControls[c - 0x80];
  return c;
}

void AppendUtf8(std::string &out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The Windows-1252 byte of a code point, or -1.
int ByteOf(std::uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
    return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (HighControls[i] == cp)
      return 0x80 + i;
  return -1;
}

} // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

bool Utf8ToCp1252(std::string_view text, std::string &out) {
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b0 = static_cast<unsigned char>(text[i]);
    std::uint32_t cp;
    std::size_t extra;
    if (b0 < 0x80) {
      cp = b0;
      extra = 0;
    } else if ((b0 & 0xE0) == 0xC0) {
      cp = b0 & 0x1F;
      extra = 1;
    } else if ((b0 & 0xF0) == 0xE0) {
      cp = b0 & 0x0F;
      extra = 2;
    } else if ((b0 & 0xF8) == 0xF0) {
      cp = b0 & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size())
      return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms would smuggle in a second spelling of the same byte.
    static constexpr std::uint32_t MinOf[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < MinOf[extra])
      return false;
    int byte = ByteOf(cp);
    if (byte < 0)
      return false;
    result += static_cast<char>(byte);
    i += extra + 1;
  }
  out = std::move(result);
  return true;
}

} // namespace tools
