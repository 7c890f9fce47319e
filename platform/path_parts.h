// How Windows takes a path apart: its root and its folder levels, with "."
// and ".." resolved and trailing dots and blanks dropped. One reading for the
// folder rules and for the POSIX build's mapping onto the host's folders, so
// that what the rules judge is what the files land in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class TPathKind {
  Invalid,       // a share without server or share name, a device path
  Relative,      // "A\B"
  DriveRelative, // "C:A\B": from the current folder of drive C
  RootRelative,  // "\A\B" on Windows: from the root of the current drive
  Absolute,      // "C:\A", "\\server\share\A", and "/a" in the POSIX build
};

struct TPathParts {
  TPathKind Kind = TPathKind::Invalid;
  // "C:" (upper case), "\\server\share", or empty for a host root and a
  // relative path.
  std::string Root;
  // The POSIX build's host path from "/".
  bool HostRoot = false;
  // A relative path's ".." levels above its start, which only the current
  // folder can resolve; every other ".." is folded, never above a root.
  std::size_t Up = 0;
  std::vector<std::string> Parts;
  // A character that Windows refuses in paths was seen.
  bool Forbidden = false;
};

// "\" and "/".
bool IsPathSeparator(char c);
// Characters that Windows refuses in a file or folder name (not counting the
// separators).
bool IsForbiddenInName(char c);

// `text` taken apart; either separator, repeated ones count once.
TPathParts SplitPath(std::string_view text);

// Adds the levels of `text` below `path`: "." stays, ".." goes up (never
// above a root; in a relative path it counts in Up), trailing dots and blanks
// go, as Windows drops them.
void AddPathLevels(TPathParts &path, std::string_view text);

// The share's server and share name of a root "\\server\share".
bool SplitShareRoot(const std::string &root, std::string &server, std::string &share);

// Where the name part of `path` begins: after the last of `separators`, 0
// when it has none. Program paths split at "\" and "/", a mask or a name
// that may start with a drive also at ":", the POSIX build's host paths at
// "/" only.
std::size_t NameStart(std::string_view path, std::string_view separators);
// The folder part with its closing separator, and the name part after it:
// together `path` again. Views into `path`.
std::string_view FolderPart(std::string_view path, std::string_view separators);
std::string_view NamePart(std::string_view path, std::string_view separators);

} // namespace platform
