// Folder and name rules of an update run. Paths are taken apart the way
// Windows resolves them, so that two spellings of one folder compare equal.
#include "util/path_rules.h"

#include <utility>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "util/text.h"

namespace util {

namespace {

using TKind = platform::TPathKind;

// A path taken apart as the platform's mapping takes it: its root ("C:",
// "\\server\share", or empty for a host root) and its folder levels.
struct TPath : platform::TPathParts {
  TPath() = default;
  TPath(platform::TPathParts parts) : platform::TPathParts(std::move(parts)) {}

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

TPath Parse(std::string_view text) {
  return TPath(platform::SplitPath(text));
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
  platform::AddPathLevels(resolved, rest);
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
    c = platform::UpperAscii(c);
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
  // The two folders that a run empties: strict, since a wrong one turns the
  // run's deletions on the host's files.
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

  // A destination is used as named, relative or not; it only must not be one
  // of the two emptied folders. Nor may they hold a shared file.
  const TPath current = CurrentFolder();
  std::vector<TNamedFolder> others = {download};
  for (int i = 1; i <= UpdateDestFolderCount; ++i) {
    const std::string &text = folders.DestFolders[static_cast<std::size_t>(i)];
    TShortString trimmed = TrimText(text);
    if (trimmed.Empty())
      continue;
    TPath path = Resolve(trimmed.View(), current);
    if (path.Kind == TKind::Absolute)
      others.push_back({"destination folder " + std::to_string(i), text, path});
  }
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
    if (platform::IsForbiddenInName(c) || platform::IsPathSeparator(c))
      return false;
    visible = visible || (c != '.' && c != ' ');
  }
  return visible && !IsDeviceName(name);
}

bool SameSpelledPath(std::string_view a, std::string_view b) {
  // Placement compares every target with a list of paths: the current
  // folder is asked only when a path is relative to it.
  TPath pathA = Parse(a), pathB = Parse(b);
  const auto relative = [](const TPath &path) {
    return path.Kind != TKind::Absolute && path.Kind != TKind::Invalid;
  };
  if (relative(pathA) || relative(pathB)) {
    const TPath current = CurrentFolder();
    pathA = Resolve(a, current);
    pathB = Resolve(b, current);
  }
  return pathA.Kind == TKind::Absolute && pathB.Kind == TKind::Absolute &&
         pathA.Key() == pathB.Key();
}

bool SamePath(std::string_view a, std::string_view b) {
  return SameSpelledPath(a, b) || platform::SameFile(a, b);
}

} // namespace util
