// Text, path, number and folder helpers that every subsystem uses. Texts are
// single-byte Windows-1252 short strings. The file-system ones swallow every
// failure of the system and answer at most yes or no; only running out of
// memory reaches the caller, as an exception.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/short_string.h"

namespace util {

// Cut at 255 characters: every caller keeps the trimmed text in a short
// string, so the cut changes no result.
TShortString TrimText(std::string_view text);
// Path texts of any length: a folder of 255 characters keeps the backslash
// that makes it 256. Callers that store the result in a record cut it there.
std::string AddBackslash(std::string_view text);
TShortString RemoveBackslash(std::string_view text);
std::string ExtractFolder(std::string_view path);
[[nodiscard]] bool FolderExists(std::string_view path);
[[nodiscard]] bool PathExists(std::string_view nameOrPattern);
void DeleteFileIfExists(std::string_view name);
void DeleteMatchingFiles(std::string_view mask);
// False, creating nothing, for a path over 255 characters: cut, it would
// name another folder.
[[nodiscard]] bool ForceFolders(std::string_view path);
std::string ChangeExtension(std::string_view name, std::string_view extension);
TShortString UpperCaseGerman(std::string_view text);
TShortString LowerCaseAscii(std::string_view text);
TShortString ExpandUmlauts(std::string_view text);
TShortString RepeatChar(int count, char c);
TShortString Spaces(int count);
// Number right-aligned in a field of `width` (at most 30) characters.
TShortString FormatNumber(int width, int decimals, int grouping, long double value);
std::int64_t ParseInt64(std::string_view text);

// Where the digits of a number start in the forms ParseInt64 reads: after
// blanks, a sign, and "$", "x" or "0x" for hexadecimal.
struct TNumberStart {
  std::size_t Digits = 0;
  bool Negative = false;
  bool Hex = false;
};
TNumberStart ReadNumberStart(std::string_view text);
// The value of `c` as a decimal or hexadecimal digit, or -1.
int DigitValue(char c, bool hex);

} // namespace util
