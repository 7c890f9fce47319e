// Conversion of ZIP entry names to the Windows-1252 names the program works
// with: from code page 437 (the ZIP default) or from UTF-8 (flag bit 11, or
// Info-ZIP's Unicode path extra field).
#pragma once

#include <string>
#include <string_view>

namespace dunzip {

// False when a character has no Windows-1252 form (the name is then unusable).
bool Cp437ToWindows1252(std::string_view name, std::string &out);
// False as well for malformed UTF-8 (overlong forms, surrogates, truncation).
bool Utf8ToWindows1252(std::string_view name, std::string &out);

} // namespace dunzip
