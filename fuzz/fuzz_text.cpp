// Fuzz target for the text helpers: TrimText, ExtractFolder, ExpandUmlauts,
// FormatNumber and ParseInt64 checked against the properties callers rely on,
// on arbitrary bytes and on numbers taken from them.
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "util/short_string.h"
#include "util/text.h"

namespace {

using fuzz::Require;
using util::TShortString;

constexpr std::size_t ShortCapacity = TShortString::Capacity;

bool IsTrimChar(unsigned char c) {
  return c == 0x00 || c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

bool IsPathDelimiter(char c) {
  return c == '\0' || c == ':' || c == '\\';
}

bool IsExpanded(unsigned char c) {
  static constexpr unsigned char expanded[] = {0x5B, 0x8E, 0xC4, 0x5C, 0x99, 0xD6, 0x5D,
                                               0x9A, 0xDC, 0x7B, 0x84, 0xE4, 0x7C, 0x94,
                                               0xF6, 0x7D, 0x81, 0xFC, 0x7E, 0xE1, 0xDF};
  for (unsigned char e : expanded)
    if (c == e)
      return true;
  return false;
}

void CheckTrimText(std::string_view text) {
  TShortString trimmed = util::TrimText(text);
  std::string_view t = trimmed.View();
  Require(t.size() <= ShortCapacity, "TrimText: longer than a short string");
  Require(text.find(t) != std::string_view::npos, "TrimText: not a part of the text");
  if (!t.empty()) {
    Require(!IsTrimChar(static_cast<unsigned char>(t.front())), "TrimText: leading trim char");
    // A result cut at 255 characters may end anywhere inside the text.
    if (t.size() < ShortCapacity)
      Require(!IsTrimChar(static_cast<unsigned char>(t.back())), "TrimText: trailing trim char");
  }

  if (text.size() <= ShortCapacity) {
    // Short texts: empty exactly when the first non-blank is a control
    // character or missing; otherwise the text without its trim characters.
    std::size_t k = 0;
    while (k < text.size() && text[k] == ' ')
      ++k;
    bool blank = k == text.size() || static_cast<unsigned char>(text[k]) < 0x20;
    Require(blank == t.empty(), "TrimText: wrong blank decision");
    if (!blank) {
      Require(util::TrimText(t) == trimmed, "TrimText: trimming twice changes the text");
      std::size_t e = text.size();
      while (IsTrimChar(static_cast<unsigned char>(text[e - 1])))
        --e;
      Require(t == text.substr(k, e - k), "TrimText: not the text between its trim chars");
    }
  }
}

void CheckExtractFolder(std::string_view path) {
  const std::string folder = util::ExtractFolder(path);
  std::string_view f = folder;
  Require(path.substr(0, f.size()) == f, "ExtractFolder: not a prefix");
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (IsPathDelimiter(path[i]))
      last = i;
  if (last == std::string_view::npos) {
    Require(f.empty(), "ExtractFolder: a folder without a delimiter");
    return;
  }
  Require(!f.empty(), "ExtractFolder: no folder although there is a delimiter");
  // The folder ends at the last delimiter or right before it (a dropped
  // backslash), at any length.
  std::size_t expected = last + 1;
  if (last >= 1 && path[last] == '\\' && path[last - 1] != ':')
    expected = last;
  Require(f.size() == expected, "ExtractFolder: the folder does not end at the last delimiter");
}

void CheckExpandUmlauts(std::string_view text) {
  TShortString expanded = util::ExpandUmlauts(text);
  std::string_view x = expanded.View();
  Require(x.size() <= ShortCapacity, "ExpandUmlauts: longer than a short string");
  std::string_view head = text.substr(0, ShortCapacity);
  Require(x.size() >= head.size(), "ExpandUmlauts: shorter than the text");
  // Positions 1 to 251 of the result are scanned; none of them still holds a
  // character of the table.
  constexpr std::size_t scanned = 251;
  for (std::size_t i = 0; i < x.size() && i < scanned; ++i)
    Require(!IsExpanded(static_cast<unsigned char>(x[i])), "ExpandUmlauts: character left");
  bool any = false;
  for (char c : head)
    any = any || IsExpanded(static_cast<unsigned char>(c));
  if (!any)
    Require(x == head, "ExpandUmlauts: changed a text without umlauts");
  if (x.size() <= scanned)
    Require(util::ExpandUmlauts(x) == expanded, "ExpandUmlauts: not stable");
}

void CheckParseInt64(std::string_view text) {
  std::int64_t value = util::ParseInt64(text);
  // The same text followed by a blank is malformed, unless the first 80
  // characters are already taken.
  if (text.size() < 80)
    Require(util::ParseInt64(std::string(text) + ' ') == 0,
            "ParseInt64: a trailing blank was accepted");
  if (value != 0)
    Require(util::ParseInt64(std::to_string(value)) == value,
            "ParseInt64: decimal text does not parse back");
}

void CheckNumberRoundTrip(std::int64_t value, int width) {
  Require(util::ParseInt64(std::to_string(value)) == value, "ParseInt64: decimal round trip");
  Require(util::ParseInt64("  " + std::to_string(value)) == value,
          "ParseInt64: leading blanks not skipped");
  char hex[32];
  std::snprintf(hex, sizeof hex, "$%llx", static_cast<unsigned long long>(value));
  Require(util::ParseInt64(hex) == value, "ParseInt64: hexadecimal round trip");
  std::snprintf(hex, sizeof hex, "0X%llX", static_cast<unsigned long long>(value));
  Require(util::ParseInt64(hex) == value, "ParseInt64: 0X hexadecimal round trip");

  TShortString formatted = util::FormatNumber(width, 0, 0, static_cast<long double>(value));
  std::size_t w = static_cast<std::size_t>(width < 0 ? 0 : (width > 30 ? 30 : width));
  Require(formatted.Length() == w, "FormatNumber: not the width");
  std::string digits = std::to_string(value);
  if (digits.size() <= w) {
    Require(util::ParseInt64(util::TrimText(formatted).View()) == value,
            "FormatNumber: does not parse back");
  } else {
    Require(formatted.View().find_first_not_of('$') == std::string_view::npos,
            "FormatNumber: overflow not shown as $");
  }
}

void CheckFormatAnything(int width, int decimals, int grouping, long double value) {
  TShortString formatted = util::FormatNumber(width, decimals, grouping, value);
  std::size_t w = static_cast<std::size_t>(width < 0 ? 0 : (width > 30 ? 30 : width));
  Require(formatted.Length() == w, "FormatNumber: not the width");
}

template <typename T> T Take(const std::uint8_t *data, std::size_t size, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= size)
    std::memcpy(&value, data + offset, sizeof(T));
  return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  CheckTrimText(text);
  CheckExtractFolder(text);
  CheckExpandUmlauts(text);
  CheckParseInt64(text);

  // Numbers from the bytes: a width, an integer and a floating-point value.
  if (size >= 1) {
    int width = static_cast<int>(data[0] % 34) - 1;
    CheckNumberRoundTrip(Take<std::int64_t>(data, size, 1), width);
    CheckNumberRoundTrip(util::ParseInt64(text.substr(1)), width);
    int decimals = size >= 10 ? data[9] % 21 - 1 : 0;
    int grouping = size >= 11 ? data[10] % 3 : 0;
    CheckFormatAnything(width, decimals, grouping, Take<double>(data, size, 11));
    CheckFormatAnything(width, decimals, grouping,
                        static_cast<long double>(Take<std::int64_t>(data, size, 1)));
  }
  return 0;
}
