// Windows-1252, the code page of every text the program stores, to and from
// UTF-8 (terminals, JSON) and Unicode code points (ZIP entry names).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// What becomes of the five bytes Windows-1252 leaves unassigned (0x81, 0x8D,
// 0x8F, 0x90, 0x9D).
enum class TUnassigned {
  // They stand for the C1 controls of the same value, as Windows converts
  // them; every byte then survives a trip through UTF-8.
  AsC1Controls,
  // They are no characters: U+FFFD when shown, refused when stored.
  Excluded,
};

// The Windows-1252 byte of a code point, or -1 when the code page has none.
int Cp1252Byte(char32_t codePoint, TUnassigned unassigned);

std::string Cp1252ToUtf8(std::string_view text, TUnassigned unassigned);

// The code point of a Windows-1252 byte's upper-case form, as Windows file
// systems fold names: a-z, the Latin-1 letters, and the 0x80..0x9F and 0xFF
// letters (Š, Œ, Ž, Ÿ, Ƒ; µ becomes Greek capital mu). Unassigned bytes stand
// for their C1 controls.
char32_t Cp1252UpperCase(unsigned char byte);
// A name folded by Cp1252UpperCase, in UTF-8: equal for names that Windows
// takes for one. Short names fit a string's own space, so keys of many names
// cost no memory beyond their table.
std::string Cp1252FoldedKey(std::string_view name);

// Case of the ASCII letters only; every other byte stays as it is.
char UpperAscii(char c);
char LowerAscii(char c);
bool SameAsciiCaseless(std::string_view a, std::string_view b);

// False (and `out` unchanged) for input that is not valid UTF-8 (overlong
// forms, surrogates, cut sequences) or holds a character that Windows-1252
// cannot store.
bool Utf8ToCp1252(std::string_view text, std::string &out, TUnassigned unassigned);

} // namespace platform
