// Text, path, number and folder helpers. Texts are Windows-1252 bytes; the
// file-system routines go through the platform seam and never report more than
// yes or no.
#include "util/text.h"

#include <iomanip>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/path_parts.h"

namespace util {

namespace {

constexpr char Backslash = '\\';

bool IsTrimChar(unsigned char c) {
  return c == 0x00 || c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

// What ends a folder part: "\", ":" and a NUL.
constexpr std::string_view PathDelimiters("\0:\\", 3);

// Folder part of a path without the 255-character cut; the callers decide.
std::string_view FolderPart(std::string_view path) {
  const std::size_t i = platform::NameStart(path, PathDelimiters);
  if (i == 0)
    return {};
  if (i == 1)
    return path.substr(0, 1);
  if (path[i - 1] == Backslash)
    return path[i - 2] == ':' ? path.substr(0, i) : path.substr(0, i - 1);
  return path.substr(0, i);
}

std::string_view Short(std::string_view text) {
  return text.size() > TShortString::Capacity ? text.substr(0, TShortString::Capacity) : text;
}

char UpperCase1252(char c) {
  auto u = static_cast<unsigned char>(c);
  if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
    return static_cast<char>(u - 0x20);
  switch (u) {
  case 0x9A:
  case 0x9C:
  case 0x9E:
    return static_cast<char>(u - 0x10);
  case 0xFF:
    return static_cast<char>(0x9F);
  default:
    return c;
  }
}

// Windows error numbers that creating or entering a folder level may give
// without the walk having to stop.
bool IsAcceptableFolderError(int error) {
  return error == platform::ErrorSuccess || error == platform::ErrorAccessDenied ||
         error == platform::ErrorAlreadyExists;
}

} // namespace

TShortString TrimText(std::string_view text) {
  // A text that compares not greater than blanks of its own length (modulo 256,
  // the length byte of a short string) is empty after trimming; that includes
  // a text whose first non-blank character is a control character.
  std::size_t n = text.size() % 256;
  std::size_t common = text.size() < n ? text.size() : n;
  std::size_t k = 0;
  while (k < common && static_cast<unsigned char>(text[k]) == 0x20)
    ++k;
  bool greater = k < common ? static_cast<unsigned char>(text[k]) > 0x20 : text.size() > n;
  if (!greater)
    return TShortString();

  std::size_t last = text.size() - 1;
  std::size_t s = 0;
  while (s < last && IsTrimChar(static_cast<unsigned char>(text[s])))
    ++s;
  std::size_t e = text.size();
  while (e > 0 && IsTrimChar(static_cast<unsigned char>(text[e - 1])))
    --e;
  if (e <= s)
    return TShortString();
  return TShortString(text.substr(s, e - s));
}

std::string AddBackslash(std::string_view text) {
  std::string result(text);
  if (!TrimText(text).Empty() && text.back() != Backslash)
    result += Backslash;
  return result;
}

TShortString RemoveBackslash(std::string_view text) {
  TShortString result(text);
  if (result.Length() > 3 && result[result.Length() - 1] == Backslash)
    result.Truncate(result.Length() - 1);
  return result;
}

std::string ExtractFolder(std::string_view path) {
  return std::string(FolderPart(path));
}

bool FolderExists(std::string_view path) {
  std::uint32_t attributes = 0;
  return platform::GetAttributes(path, attributes) && (attributes & platform::faDirectory) != 0;
}

bool PathExists(std::string_view nameOrPattern) {
  constexpr std::uint32_t invisible =
      platform::faHidden | platform::faSysFile | platform::faVolumeID;
  bool found = false;
  (void)platform::WalkFiles(nameOrPattern, platform::faDirectory,
                            [&found](const platform::TFindEntry &entry) {
                              found = (entry.Attributes & invisible) == 0;
                              return !found;
                            });
  return found;
}

void DeleteFileIfExists(std::string_view name) {
  // Callers go on whether or not the file went.
  if (PathExists(name))
    (void)platform::DeleteFile(name);
}

void DeleteMatchingFiles(std::string_view mask) {
  std::string_view folder = FolderPart(mask);
  TShortString f = UpperCaseGerman(RemoveBackslash(folder));
  TShortString w = UpperCaseGerman(Short(platform::WindowsFolder()));
  if (f.Length() == 3 && w.View().substr(0, 3) == f.View())
    return;
  if (f == w || f == UpperCaseGerman(Short(platform::SystemFolder())) ||
      f == UpperCaseGerman(Short(platform::ProgramFilesFolder())))
    return;

  // Named by the uncut folder in the caller's spelling: a folder cut to 255
  // characters could name a different folder, and the exact spelling is what
  // a case-sensitive file system needs. "C:" stays relative to the drive's
  // current folder, where the listing found the files.
  std::string prefix(folder);
  if (!prefix.empty() && prefix.back() != Backslash && prefix.back() != ':')
    prefix += Backslash;
  constexpr std::uint32_t skipped =
      platform::faHidden | platform::faSysFile | platform::faVolumeID | platform::faDirectory;
  // Walked, not listed: a staging folder may hold thousands of files.
  (void)platform::WalkFiles(mask, 0, [&](const platform::TFindEntry &entry) {
    if ((entry.Attributes & skipped) != 0)
      return true;
    std::string name = prefix + entry.Name;
    // Windows refuses to delete a read-only file; one left behind in the
    // staging folder would be placed again with the next package.
    if ((entry.Attributes & platform::faReadOnly) != 0) {
      std::uint32_t cleared = entry.Attributes & ~platform::faReadOnly;
      (void)platform::SetAttributes(name, cleared != 0 ? cleared : platform::faNormal);
    }
    // Emptying is best effort; each file is tried in turn.
    (void)platform::DeleteFile(name);
    return true;
  });
}

bool ForceFolders(std::string_view path) {
  if (path.size() > TShortString::Capacity)
    return false;
  std::string s = AddBackslash(path);
  // Going back is best effort, however the walk ends; the result is about
  // the folders made.
  struct TGoBack {
    const std::string Folder = platform::GetCurrentFolder();
    ~TGoBack() { (void)platform::SetCurrentFolder(Folder); }
  } goBack;
  // Hide a drive root's backslash so that "C:\" is not a level of its own.
  if (s.size() >= 3 && s[2] == Backslash)
    s[2] = '/';

  std::string rest(s);
  for (;;) {
    std::size_t pos = rest.find(Backslash);
    if (pos == std::string::npos)
      return true;
    std::string segment = rest.substr(0, pos + 1);
    rest.erase(0, pos + 1);
    if (segment.size() >= 3 && segment[2] == '/')
      segment[2] = Backslash;
    if (!FolderExists(segment)) {
      int error = platform::CreateFolder(segment) ? 0 : platform::LastError();
      if (!IsAcceptableFolderError(error))
        return false;
    }
    int error = platform::SetCurrentFolder(segment) ? 0 : platform::LastError();
    if (!IsAcceptableFolderError(error))
      return false;
  }
}

std::string ChangeExtension(std::string_view name, std::string_view extension) {
  if (name.empty())
    return {};
  const TShortString ext = TrimText(extension);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return ext.Empty() ? std::string(name) : std::string(name) + '.' + ext.Str();
  if (ext.Empty())
    return std::string(name.substr(0, dot));
  return std::string(name.substr(0, dot + 1)) + ext.Str();
}

TShortString UpperCaseGerman(std::string_view text) {
  // Windows-1252 upper-casing maps the umlauts to their capitals and leaves
  // sharp s alone, as the comparisons of folder names expect.
  TShortString result(text);
  for (std::size_t i = 0; i < result.Length(); ++i)
    result[i] = UpperCase1252(result[i]);
  return result;
}

TShortString LowerCaseAscii(std::string_view text) {
  std::string_view upToNul = text.substr(0, text.find('\0'));
  TShortString result(upToNul);
  for (std::size_t i = 0; i < result.Length(); ++i)
    result[i] = platform::LowerAscii(result[i]);
  return result;
}

TShortString ExpandUmlauts(std::string_view text) {
  std::string s(Short(text));
  // The scan stops after this position of the growing text (1-based).
  constexpr std::size_t lastScanned = 251;
  std::size_t i = 0;
  while (i < s.size() && i < lastScanned) {
    const char *pair = nullptr;
    switch (static_cast<unsigned char>(s[i])) {
    case 0x5B:
    case 0x8E:
    case 0xC4:
      pair = "Ae";
      break;
    case 0x5C:
    case 0x99:
    case 0xD6:
      pair = "Oe";
      break;
    case 0x5D:
    case 0x9A:
    case 0xDC:
      pair = "Ue";
      break;
    case 0x7B:
    case 0x84:
    case 0xE4:
      pair = "ae";
      break;
    case 0x7C:
    case 0x94:
    case 0xF6:
      pair = "oe";
      break;
    case 0x7D:
    case 0x81:
    case 0xFC:
      pair = "ue";
      break;
    case 0x7E:
    case 0xE1:
    case 0xDF:
      pair = "ss";
      break;
    default:
      break;
    }
    if (pair == nullptr) {
      ++i;
      continue;
    }
    s[i] = pair[0];
    s.insert(i + 1, 1, pair[1]);
    if (s.size() > TShortString::Capacity)
      s.resize(TShortString::Capacity);
    i += 2;
  }
  return TShortString(s);
}

TShortString RepeatChar(int count, char c) {
  if (count <= 0)
    return TShortString();
  std::size_t n = count > 255 ? 255 : static_cast<std::size_t>(count);
  return TShortString(std::string(n, c));
}

TShortString Spaces(int count) {
  return RepeatChar(count, ' ');
}

TShortString FormatNumber(int width, int decimals, int grouping, long double value) {
  constexpr int maxWidth = 30;
  constexpr int maxDecimals = 18;
  width = width < 0 ? 0 : (width > maxWidth ? maxWidth : width);
  decimals = decimals < 0 ? 0 : (decimals > maxDecimals ? maxDecimals : decimals);

  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::fixed << std::setprecision(decimals) << std::setw(width) << value;
  std::string text = out.str();
  std::size_t point = text.find('.');
  if (point != std::string::npos)
    text[point] = ',';

  std::string body;
  if (grouping != 1) {
    body = text;
  } else {
    long p = decimals == 0 || point == std::string::npos ? width + 1 : static_cast<long>(point) + 1;
    bool digitCopied = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
      char c = text[k];
      bool digit = c >= '0' && c <= '9';
      if (!digit && c != '-' && c != ',')
        continue;
      long distance = p - static_cast<long>(k + 1);
      if (digitCopied && distance >= 3 && distance <= 27 && distance % 3 == 0)
        body += '.';
      body += c;
      digitCopied = digitCopied || digit;
    }
  }

  if (body.size() > static_cast<std::size_t>(width))
    return RepeatChar(width, '$');
  return TShortString(std::string(static_cast<std::size_t>(width) - body.size(), ' ') + body);
}

TNumberStart ReadNumberStart(std::string_view text) {
  TNumberStart start;
  std::size_t &i = start.Digits;
  while (i < text.size() && text[i] == ' ')
    ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    start.Negative = text[i] == '-';
    ++i;
  }
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    start.Hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    start.Hex = true;
    i += 2;
  }
  return start;
}

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (hex && c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::int64_t ParseInt64(std::string_view text) {
  constexpr std::size_t usedChars = 80;
  text = text.substr(0, usedChars);
  const TNumberStart start = ReadNumberStart(text);
  if (start.Digits >= text.size())
    return 0;

  // Decimal numbers must fit the signed range; hexadecimal ones may use all
  // 64 bits, the highest making the value negative.
  const std::uint64_t limit = start.Hex        ? ~std::uint64_t{0}
                              : start.Negative ? std::uint64_t{1} << 63
                                               : (std::uint64_t{1} << 63) - 1;
  const unsigned base = start.Hex ? 16 : 10;
  std::uint64_t value = 0;
  for (std::size_t i = start.Digits; i < text.size(); ++i) {
    const int d = DigitValue(text[i], start.Hex);
    if (d < 0)
      return 0;
    const auto digit = static_cast<unsigned>(d);
    if (value > (limit - digit) / base)
      return 0;
    value = value * base + digit;
  }
  if (start.Negative)
    value = ~value + 1;
  return static_cast<std::int64_t>(value);
}

} // namespace util
