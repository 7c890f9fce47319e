// Conversion between the records' Windows-1252 texts and the UTF-8 that the
// terminal and JSON use, so that umlauts show and can be typed as themselves.
#pragma once

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace tools {

// Every byte has a character: the five bytes that Windows-1252 leaves
// undefined come out as the C1 controls of the same value, as Windows does,
// so that a record's text read out and written back stays byte for byte.
inline std::string Cp1252ToUtf8(std::string_view text) {
  return platform::Cp1252ToUtf8(text, platform::TUnassigned::AsC1Controls);
}

// False (and `out` unchanged) for input that is not valid UTF-8 or holds a
// character that Windows-1252 cannot store.
inline bool Utf8ToCp1252(std::string_view text, std::string &out) {
  return platform::Utf8ToCp1252(text, out, platform::TUnassigned::AsC1Controls);
}

} // namespace tools
