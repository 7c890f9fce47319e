// Windows-1252 <-> Unicode. Only 0x80..0x9F differ from Latin-1; the table
// gives their code points, 0 for the unassigned ones.
#include "platform/codepage.h"

#include <utility>

namespace platform {

namespace {

constexpr char16_t HighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf8(std::string &out, char32_t cp) {
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

char32_t Cp1252CodePoint(unsigned char byte, TUnassigned unassigned) {
  if (byte < 0x80 || byte > 0x9F)
    return byte;
  if (HighControls[byte - 0x80] != 0)
    return HighControls[byte - 0x80];
  return unassigned == TUnassigned::AsC1Controls ? byte : Replacement;
}

} // namespace

int Cp1252Byte(char32_t codePoint, TUnassigned unassigned) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
    return static_cast<int>(codePoint);
  for (int i = 0; i < 32; ++i)
    if (HighControls[i] != 0 && HighControls[i] == codePoint)
      return 0x80 + i;
  if (unassigned == TUnassigned::AsC1Controls && codePoint <= 0x9F &&
      HighControls[codePoint - 0x80] == 0)
    return static_cast<int>(codePoint);
  return -1;
}

char32_t Cp1252UpperCase(unsigned char byte) {
  const char32_t cp = Cp1252CodePoint(byte, TUnassigned::AsC1Controls);
  if ((cp >= 'a' && cp <= 'z') || (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7))
    return cp - 0x20;
  switch (cp) {
  case 0xB5:
    return 0x039C;
  case 0xFF:
    return 0x0178;
  case 0x0161:
  case 0x0153:
  case 0x017E:
    return cp - 1;
  case 0x0192:
    return 0x0191;
  default:
    return cp;
  }
}

std::string Cp1252FoldedKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (char c : name)
    AppendUtf8(key, Cp1252UpperCase(static_cast<unsigned char>(c)));
  return key;
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAsciiCaseless(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i]))
      return false;
  return true;
}

std::string Cp1252ToUtf8(std::string_view text, TUnassigned unassigned) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(c), unassigned));
  return out;
}

bool Utf8ToCp1252(std::string_view text, std::string &out, TUnassigned unassigned) {
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t cp;
    std::size_t extra;
    if (lead < 0x80) {
      cp = lead;
      extra = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1Fu;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0Fu;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07u;
      extra = 3;
    } else {
      return false;
    }
    if (text.size() - i <= extra)
      return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    // Overlong forms would smuggle in a second spelling of the same byte.
    static constexpr char32_t MinOf[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < MinOf[extra])
      return false;
    const int byte = Cp1252Byte(cp, unassigned);
    if (byte < 0)
      return false;
    result += static_cast<char>(byte);
    i += extra + 1;
  }
  out = std::move(result);
  return true;
}

} // namespace platform
