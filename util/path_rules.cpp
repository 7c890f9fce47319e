// Folder and name rules of an update run. Paths are taken apart the way
// Windows resolves them, so that two spellings of one folder compare equal.
#include "util/path_rules.h"

#include <cstring>

#include "platform/files.h"
#include "util/text.h"

namespace util {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Characters that Windows refuses in a file or folder name.
bool IsForbidden(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
}

enum class TKind {
  Invalid,       // a share without server or share name, a device path
  Relative,      // "A\B"
  DriveRelative, // "C:A\B": from the current folder of drive C
  RootRelative,  // "\A\B" on Windows: from the root of the current drive
  Absolute,      // "C:\A", "\\server\share\A", and "/a" in the POSIX build
};

// A path taken apart: its root ("C:", "\\server\share", or empty for a host
// root) and its folder levels with "." and ".." resolved.
struct TPath {
  TKind Kind = TKind::Invalid;
  std::string Root;
  bool HostRoot = false;
  std::vector<std::string> Parts;
  bool Forbidden = false;

  // Usable spelling of the path, with the case as given.
  std::string Text() const {
    const char separator = HostRoot ? '/' : '\\';
    std::string text = Root;
    for (const std::string &part : Parts)
      text += separator + part;
    if (Parts.empty())
      text += separator;
    return text;
  }
  // The same without regard to case: what Windows compares.
  std::string Key() const {
    std::string key = UpperCaseGerman(Root).Str();
    for (const std::string &part : Parts)
      key += '\\' + UpperCaseGerman(part).Str();
    return key;
  }
};

// Adds the levels of `text` to `path`: "." stays, ".." goes up (never above
// the root), trailing dots and blanks go, as Windows drops them.
void AddLevels(TPath &path, std::string_view text) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = at;
    while (end < text.size() && !IsSeparator(text[end]))
      ++end;
    std::string part(text.substr(at, end - at));
    at = end + 1;
    if (part == ".")
      continue;
    if (part == "..") {
      if (!path.Parts.empty())
        path.Parts.pop_back();
      continue;
    }
    for (char c : part)
      path.Forbidden = path.Forbidden || IsForbidden(c);
    while (!part.empty() && (part.back() == '.' || part.back() == ' '))
      part.pop_back();
    if (!part.empty())
      path.Parts.push_back(part);
  }
}

TPath Parse(std::string_view text) {
  TPath path;
  if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
    path.Root = std::string(1, static_cast<char>(text[0] & ~0x20)) + ":";
    std::string_view rest = text.substr(2);
    path.Kind = !rest.empty() && IsSeparator(rest[0]) ? TKind::Absolute : TKind::DriveRelative;
    AddLevels(path, rest);
    return path;
  }
  if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
    // "\\server\share": both names are needed; "\\.\" and "\\?\" lead to
    // devices and raw volumes, never to a folder of an update.
    std::string_view rest = text.substr(2);
    std::size_t serverEnd = 0;
    while (serverEnd < rest.size() && !IsSeparator(rest[serverEnd]))
      ++serverEnd;
    std::size_t shareEnd = serverEnd + 1;
    while (shareEnd < rest.size() && !IsSeparator(rest[shareEnd]))
      ++shareEnd;
    if (serverEnd == 0 || serverEnd + 1 >= shareEnd || shareEnd > rest.size())
      return path;
    std::string_view server = rest.substr(0, serverEnd);
    std::string_view share = rest.substr(serverEnd + 1, shareEnd - serverEnd - 1);
    if (server == "." || server == "?")
      return path;
    for (char c : rest.substr(0, shareEnd))
      path.Forbidden = path.Forbidden || (c != '\\' && c != '/' && IsForbidden(c));
    path.Root = "\\\\" + std::string(server) + "\\" + std::string(share);
    path.Kind = TKind::Absolute;
    if (shareEnd < rest.size())
      AddLevels(path, rest.substr(shareEnd + 1));
    return path;
  }
  if (!text.empty() && IsSeparator(text[0])) {
    // The POSIX seam takes such a path as a host path, as it is.
    path.HostRoot = !platform::HostIsWindows();
    path.Kind = path.HostRoot ? TKind::Absolute : TKind::RootRelative;
    AddLevels(path, text.substr(1));
    return path;
  }
  path.Kind = TKind::Relative;
  AddLevels(path, text);
  return path;
}

// `text` as an absolute path; relative forms count from `current` (an
// absolute path itself). Invalid when that is not possible.
TPath Resolve(std::string_view text, const TPath &current) {
  TPath path = Parse(text);
  if (path.Kind == TKind::Absolute || path.Kind == TKind::Invalid)
    return path;
  if (current.Kind != TKind::Absolute)
    return TPath();
  TPath resolved = current;
  resolved.Forbidden = path.Forbidden;
  if (path.Kind == TKind::RootRelative) {
    resolved.Parts.clear();
  } else if (path.Kind == TKind::DriveRelative && path.Root != current.Root) {
    // The current folder of another drive is not known here; its root is
    // the nearest guess.
    resolved.Root = path.Root;
    resolved.HostRoot = false;
    resolved.Parts.clear();
  }
  std::string_view rest = path.Kind == TKind::DriveRelative ? text.substr(2) : text;
  AddLevels(resolved, rest);
  return resolved;
}

TPath CurrentFolder() {
  return Parse(platform::GetCurrentFolder());
}

bool Same(const TPath &a, const TPath &b) {
  return a.Key() == b.Key() || platform::SameFile(a.Text(), b.Text());
}

struct TNamedFolder {
  std::string What;
  std::string Given;
  TPath Path;
};

std::string Quoted(const std::string &text) {
  return "\"" + text + "\"";
}

// The reason when `folder` breaks a rule that every folder of an update keeps.
bool CheckFolder(const TNamedFolder &folder, std::string &reason) {
  if (folder.Path.Kind != TKind::Absolute) {
    reason = folder.What + " " + Quoted(folder.Given) +
             " is not an absolute path with a drive letter or a network share.";
    return false;
  }
  if (folder.Path.Forbidden) {
    reason = folder.What + " " + Quoted(folder.Given) +
             " holds a character that Windows does not allow in paths.";
    return false;
  }
  return true;
}

std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

bool IsDeviceName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ')
    base.pop_back();
  for (char &c : base)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
    if (base == device)
      return true;
  if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0))
    return false;
  // Digits, and the superscript digits 1 to 3 of Windows-1252, which Windows
  // takes for ports as well.
  const auto digit = static_cast<unsigned char>(base[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

} // namespace

bool CheckUpdateFolders(const TUpdateFolders &folders, std::string &reason) {
  reason.clear();
  TNamedFolder staging{"the staging folder", folders.StagingFolder, Parse(folders.StagingFolder)};
  TNamedFolder download{"the download folder", folders.DownloadFolder,
                        Parse(folders.DownloadFolder)};
  std::vector<TNamedFolder> dests;
  for (int i = 1; i <= UpdateDestFolderCount; ++i) {
    const std::string &text = folders.DestFolders[static_cast<std::size_t>(i)];
    TShortString trimmed = TrimText(text);
    if (!trimmed.Empty())
      dests.push_back({"destination folder " + std::to_string(i), text, Parse(trimmed.View())});
  }

  for (const TNamedFolder *folder : {&staging, &download}) {
    if (!CheckFolder(*folder, reason)) {
      reason = Capitalised(reason);
      return false;
    }
    if (folder->Path.Parts.empty()) {
      reason = Capitalised(folder->What) + " " + Quoted(folder->Given) +
               " is the root of a drive or share.";
      return false;
    }
  }
  for (const TNamedFolder &dest : dests) {
    if (!CheckFolder(dest, reason)) {
      reason = Capitalised(reason);
      return false;
    }
  }

  std::vector<TNamedFolder> others = {download};
  others.insert(others.end(), dests.begin(), dests.end());
  const TPath current = CurrentFolder();
  for (const TSharedFile &file : folders.SharedFiles) {
    TPath path = Resolve(file.Path, current);
    if (path.Kind != TKind::Absolute || path.Parts.empty())
      continue;
    path.Parts.pop_back();
    others.push_back({"the folder of " + file.What, path.Text(), path});
  }
  for (const TNamedFolder *folder : {&staging, &download}) {
    for (const TNamedFolder &other : others) {
      if (&other == &others[0] && folder == &download)
        continue;
      if (Same(folder->Path, other.Path)) {
        reason = Capitalised(folder->What) + " " + Quoted(folder->Given) +
                 " is the same folder as " + other.What + " " + Quoted(other.Given) + ".";
        return false;
      }
    }
  }
  return true;
}

bool IsPlainFileName(std::string_view name) {
  bool visible = false;
  for (char c : name) {
    if (IsForbidden(c) || IsSeparator(c))
      return false;
    visible = visible || (c != '.' && c != ' ');
  }
  return visible && !IsDeviceName(name);
}

bool SameSpelledPath(std::string_view a, std::string_view b) {
  const TPath current = CurrentFolder();
  const TPath pathA = Resolve(a, current);
  const TPath pathB = Resolve(b, current);
  return pathA.Kind == TKind::Absolute && pathB.Kind == TKind::Absolute &&
         pathA.Key() == pathB.Key();
}

bool SamePath(std::string_view a, std::string_view b) {
  return SameSpelledPath(a, b) || platform::SameFile(a, b);
}

} // namespace util
