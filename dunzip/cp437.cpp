// Code page 437 and UTF-8 entry names to Windows-1252, through Unicode code
// points: the upper halves of both code pages come as tables, the lower
// halves are ASCII.
#include "dunzip/cp437.h"

#include <cstdint>

namespace dunzip {

namespace {

constexpr std::uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// 0x80 to 0x9F of Windows-1252; 0 marks the five unassigned bytes.
constexpr std::uint16_t Cp1252Controls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool AppendWindows1252(std::uint32_t codePoint, std::string &out) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    out.push_back(static_cast<char>(codePoint));
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (Cp1252Controls[i] != 0 && Cp1252Controls[i] == codePoint) {
      out.push_back(static_cast<char>(0x80 + i));
      return true;
    }
  }
  return false;
}

} // namespace

bool Cp437ToWindows1252(std::string_view name, std::string &out) {
  out.clear();
  for (char c : name) {
    auto byte = static_cast<std::uint8_t>(c);
    if (!AppendWindows1252(byte < 0x80 ? byte : Cp437High[byte - 0x80], out))
      return false;
  }
  return true;
}

bool Utf8ToWindows1252(std::string_view name, std::string &out) {
  out.clear();
  std::size_t i = 0;
  while (i < name.size()) {
    auto lead = static_cast<std::uint8_t>(name[i]);
    std::uint32_t codePoint;
    std::size_t extra;
    std::uint32_t minimum;
    if (lead < 0x80) {
      codePoint = lead;
      extra = 0;
      minimum = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      codePoint = lead & 0x1Fu;
      extra = 1;
      minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      codePoint = lead & 0x0Fu;
      extra = 2;
      minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      codePoint = lead & 0x07u;
      extra = 3;
      minimum = 0x10000;
    } else {
      return false;
    }
    if (name.size() - i <= extra)
      return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<std::uint8_t>(name[i + k]);
      if ((next & 0xC0) != 0x80)
        return false;
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
      return false;
    if (!AppendWindows1252(codePoint, out))
      return false;
    i += extra + 1;
  }
  return true;
}

} // namespace dunzip
