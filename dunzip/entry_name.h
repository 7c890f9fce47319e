// Entry names: decoding to Windows-1252 and the one cleaning step that every
// entry, file or folder, goes through before anything is written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dunzip/zip_reader.h"

namespace dunzip {

// The entry's name in Windows-1252: the Unicode path extra field, else UTF-8
// when flag bit 11 is set, else UTF-8 when the archive was made on Unix or
// macOS and the name is well-formed UTF-8 beyond ASCII with a Windows-1252
// form, else code page 437. False when it has no Windows-1252 form.
bool DecodeEntryName(const TZipEntry &entry, std::string &name);

// True for a name made of "." and separators only: the item for the folder
// archived itself ("./", as bsdtar and Windows' tar write it first).
bool IsCurrentFolderItem(std::string_view name);

struct TCleanName {
  std::vector<std::string> Folders; // folder parts, outermost first
  std::string Name;                 // the last part: file or folder name
};

// Splits a decoded name at "/" and "\" and checks every part. False for an
// absolute name, a drive letter, a ".." part, a part with characters Windows
// does not allow (control characters, <>:"/\|?*), a part ending in a dot or
// blank, a device name (CON, NUL, COM1, ...), and an empty, "." or ".." last
// part. Trailing separators (folder entries) are dropped first; empty and "."
// folder parts are left out.
bool CleanEntryName(std::string_view name, TCleanName &clean);

} // namespace dunzip
