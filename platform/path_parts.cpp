// Windows' reading of a path, shared by the folder rules and the POSIX path
// mapping.
#include "platform/path_parts.h"

#include <cstring>

#include "platform/files.h"

namespace platform {

bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsForbiddenInName(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
}

namespace {

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

void AddPathLevels(TPathParts &path, std::string_view text) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = at;
    while (end < text.size() && !IsPathSeparator(text[end]))
      ++end;
    std::string part(text.substr(at, end - at));
    at = end + 1;
    if (part == ".")
      continue;
    if (part == "..") {
      if (!path.Parts.empty())
        path.Parts.pop_back();
      else if (path.Kind == TPathKind::Relative)
        ++path.Up;
      continue;
    }
    for (char c : part)
      path.Forbidden = path.Forbidden || IsForbiddenInName(c);
    while (!part.empty() && (part.back() == '.' || part.back() == ' '))
      part.pop_back();
    if (!part.empty())
      path.Parts.push_back(part);
  }
}

TPathParts SplitPath(std::string_view text) {
  TPathParts path;
  if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
    path.Root = std::string(1, static_cast<char>(text[0] & ~0x20)) + ":";
    std::string_view rest = text.substr(2);
    path.Kind =
        !rest.empty() && IsPathSeparator(rest[0]) ? TPathKind::Absolute : TPathKind::DriveRelative;
    AddPathLevels(path, rest);
    return path;
  }
  if (text.size() >= 2 && IsPathSeparator(text[0]) && IsPathSeparator(text[1])) {
    // "\\server\share": both names are needed; "\\.\" and "\\?\" lead to
    // devices and raw volumes, never to a folder of an update.
    std::string_view rest = text.substr(2);
    std::size_t serverEnd = 0;
    while (serverEnd < rest.size() && !IsPathSeparator(rest[serverEnd]))
      ++serverEnd;
    std::size_t shareEnd = serverEnd + 1;
    while (shareEnd < rest.size() && !IsPathSeparator(rest[shareEnd]))
      ++shareEnd;
    if (serverEnd == 0 || serverEnd + 1 >= shareEnd || shareEnd > rest.size())
      return path;
    std::string_view server = rest.substr(0, serverEnd);
    std::string_view share = rest.substr(serverEnd + 1, shareEnd - serverEnd - 1);
    if (server == "." || server == "?")
      return path;
    for (char c : rest.substr(0, shareEnd))
      path.Forbidden = path.Forbidden || (!IsPathSeparator(c) && IsForbiddenInName(c));
    path.Root = "\\\\" + std::string(server) + "\\" + std::string(share);
    path.Kind = TPathKind::Absolute;
    if (shareEnd < rest.size())
      AddPathLevels(path, rest.substr(shareEnd + 1));
    return path;
  }
  if (!text.empty() && IsPathSeparator(text[0])) {
    // The POSIX seam takes such a path as a host path, as it is.
    path.HostRoot = !HostIsWindows();
    path.Kind = path.HostRoot ? TPathKind::Absolute : TPathKind::RootRelative;
    AddPathLevels(path, text.substr(1));
    return path;
  }
  path.Kind = TPathKind::Relative;
  AddPathLevels(path, text);
  return path;
}

bool SplitShareRoot(const std::string &root, std::string &server, std::string &share) {
  if (root.size() < 2 || root[0] != '\\' || root[1] != '\\')
    return false;
  const std::size_t cut = root.find('\\', 2);
  if (cut == std::string::npos)
    return false;
  server = root.substr(2, cut - 2);
  share = root.substr(cut + 1);
  return true;
}

std::size_t NameStart(std::string_view path, std::string_view separators) {
  const std::size_t cut = path.find_last_of(separators);
  return cut == std::string_view::npos ? 0 : cut + 1;
}

std::string_view FolderPart(std::string_view path, std::string_view separators) {
  return path.substr(0, NameStart(path, separators));
}

std::string_view NamePart(std::string_view path, std::string_view separators) {
  return path.substr(NameStart(path, separators));
}

} // namespace platform
