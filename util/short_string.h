// The one text type of the code base: a single-byte (Windows-1252) string of
// at most 255 characters, as the host's records store them. Anything longer is
// cut at 255, the way a length-prefixed string of that capacity behaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace util {

class TShortString {
public:
  static constexpr std::size_t Capacity = 255;

  TShortString() { Chars[0] = '\0'; }
  TShortString(const char *text) { Assign(text ? std::string_view(text) : std::string_view()); }
  TShortString(std::string_view text) { Assign(text); }
  TShortString(const std::string &text) { Assign(std::string_view(text)); }

  void Assign(std::string_view text) {
    Len = static_cast<std::uint8_t>(text.size() > Capacity ? Capacity : text.size());
    if (Len != 0)
      std::memcpy(Chars, text.data(), Len);
    Chars[Len] = '\0';
  }

  std::size_t Length() const { return Len; }
  [[nodiscard]] bool Empty() const { return Len == 0; }
  const char *Data() const { return Chars; }
  // Zero-terminated view for system calls; a NUL inside the text ends it there.
  const char *CStr() const { return Chars; }
  std::string_view View() const { return std::string_view(Chars, Len); }
  std::string Str() const { return std::string(Chars, Len); }
  operator std::string_view() const { return View(); }

  char operator[](std::size_t i) const { return Chars[i]; }
  char &operator[](std::size_t i) { return Chars[i]; }

  // Cuts to `count` characters when shorter than the current length.
  void Truncate(std::size_t count) {
    if (count < Len) {
      Len = static_cast<std::uint8_t>(count);
      Chars[Len] = '\0';
    }
  }

  TShortString &Append(std::string_view text) {
    std::size_t room = Capacity - Len;
    std::size_t n = text.size() < room ? text.size() : room;
    if (n != 0)
      std::memcpy(Chars + Len, text.data(), n);
    Len = static_cast<std::uint8_t>(Len + n);
    Chars[Len] = '\0';
    return *this;
  }
  TShortString &Append(char c) { return Append(std::string_view(&c, 1)); }
  TShortString &operator+=(std::string_view text) { return Append(text); }
  TShortString &operator+=(char c) { return Append(c); }

  friend TShortString operator+(TShortString a, std::string_view b) { return a.Append(b); }
  friend TShortString operator+(TShortString a, char b) { return a.Append(b); }
  friend TShortString operator+(TShortString a, const char *b) { return a.Append(b); }
  friend TShortString operator+(TShortString a, const TShortString &b) {
    return a.Append(b.View());
  }
  friend TShortString operator+(const char *a, const TShortString &b) {
    return TShortString(a).Append(b.View());
  }
  // A long text stays long: a path of any length plus a record's name.
  friend std::string operator+(std::string a, const TShortString &b) { return a.append(b.View()); }

  friend bool operator==(const TShortString &a, const TShortString &b) {
    return a.View() == b.View();
  }
  friend bool operator!=(const TShortString &a, const TShortString &b) { return !(a == b); }
  friend bool operator==(const TShortString &a, std::string_view b) { return a.View() == b; }
  friend bool operator!=(const TShortString &a, std::string_view b) { return a.View() != b; }
  friend bool operator==(const TShortString &a, const char *b) { return a.View() == b; }
  friend bool operator!=(const TShortString &a, const char *b) { return a.View() != b; }

private:
  std::uint8_t Len = 0;
  char Chars[Capacity + 1];
};

} // namespace util
