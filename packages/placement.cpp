// Placement of unpacked files into the destination folders, directed by the
// package's default index and the records of FILEPATH.ID. Paths are kept at
// full length: a path too long for the host is refused by the copy, never cut.
#include "packages/placement.h"

#include <string>
#include <vector>

#include "packages/box_caption.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "util/file_copy.h"
#include "util/text.h"

namespace packages {

namespace {

constexpr int FirstDestIndex = 1;
constexpr int LastDestIndex = admin::DestFolderCount;
constexpr std::string_view BlankFolderFallback = "G:\\";

// AddBackslash(folder) + name, without the 255-character cut of short strings.
std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!util::TrimText(folder).Empty() && folder.back() != '\\')
    path += '\\';
  path += name;
  return path;
}

// ExtractFolder(AddBackslash(entry)): the entry without a trailing backslash,
// a drive root keeping its own.
std::string FolderOfEntry(std::string_view entry) {
  std::string withBackslash = JoinPath(entry, "");
  if (withBackslash.size() > util::TShortString::Capacity)
    return std::string(entry);
  return util::ExtractFolder(withBackslash).Str();
}

bool InDestRange(int index) {
  return index >= FirstDestIndex && index <= LastDestIndex;
}

// `unreadable` is set when the marker file is there but cannot be read to its
// end: the answer 0 would then send a file to the wrong folder.
std::uint8_t LookUp(std::string_view stagingFolder, std::string_view fileName, bool &unreadable) {
  unreadable = false;
  util::TShortString key = util::LowerCaseAscii(fileName);
  platform::TFile file;
  // Only read here, so a read-only marker file from the archive still counts.
  if (!file.OpenRead(JoinPath(stagingFolder, FilePathIdName))) {
    const int error = platform::LastError();
    unreadable = error != platform::ErrorFileNotFound && error != platform::ErrorPathNotFound;
    return 0;
  }
  std::uint8_t index = 0;
  std::uint8_t record[FilePathEntrySize];
  for (;;) {
    std::uint32_t got = 0, n = 0;
    bool readOk = true;
    while (got < FilePathEntrySize) {
      if (!file.Read(record + got, static_cast<std::uint32_t>(FilePathEntrySize) - got, n)) {
        readOk = false;
        break;
      }
      if (n == 0)
        break;
      got += n;
    }
    // A trailing partial record is no record.
    if (!readOk)
      unreadable = true;
    if (!readOk || got < FilePathEntrySize)
      break;
    std::string_view name(reinterpret_cast<const char *>(record + FileNameCharsOffset),
                          record[FileNameLengthOffset]);
    if (util::LowerCaseAscii(name) == key) {
      index = record[FolderIndexOffset];
      if (!InDestRange(index))
        index = 0;
      break;
    }
  }
  file.Close();
  return index;
}

std::int32_t PlaceFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                        TPlacementEvents &events) {
  events.ShowGroupCaption(CopyingCaption);
  const std::string staging = header.StagingFolder().Str();
  const util::TShortString markerKey = util::LowerCaseAscii(FilePathIdName);
  int current = destIndex;
  std::int32_t result = PlacementOk;

  std::vector<platform::TFindEntry> entries;
  platform::FindFiles(JoinPath(staging, "*.*"), platform::faReadOnly | platform::faArchive,
                      entries);
  for (const platform::TFindEntry &entry : entries) {
    const std::string &name = entry.Name;
    // The index carries over to the following files until another record names one.
    bool markerUnreadable = false;
    if (std::uint8_t own = LookUp(staging, name, markerUnreadable); own != 0)
      current = own;
    if (markerUnreadable) {
      result = PlacementCopyFailed;
      break;
    }
    if (!InDestRange(current)) {
      events.Note(name + ": destination folder index " + std::to_string(current) +
                  " is outside 1 to 20");
      result = PlacementBadIndex;
      break;
    }
    util::TShortString destEntry = util::TrimText(header.DestFolder(current));
    std::string folder =
        destEntry.Empty() ? std::string(BlankFolderFallback) : FolderOfEntry(destEntry);
    if (!util::FolderExists(folder)) {
      events.Note(name + ": destination folder " + std::to_string(current) +
                  " does not exist: " + folder);
      result = PlacementNoFolder;
      break;
    }
    if (util::LowerCaseAscii(name) == markerKey)
      continue;
    std::string source = JoinPath(staging, name);
    std::string destination = JoinPath(folder, name);
    // Clears read-only, hidden and system on a file about to be replaced.
    platform::SetAttributes(destination, platform::faArchive);
    int copyResult = util::CopyFileWithDate(source, destination);
    if (copyResult != 0) {
      events.Note("Copying " + source + " to " + destination +
                  " failed: " + platform::ErrorText(platform::LastError()));
      util::TShortString text = "Error=" + util::FormatNumber(10, 0, 0, copyResult);
      platform::ShowMessageBox(events.Owner(), text, BoxCaption, platform::MbOk);
      result = PlacementCopyFailed;
      break;
    }
    events.Note("Placed " + name + " in " + folder);
  }
  return result;
}

} // namespace

std::uint8_t FindIndivFilePath(std::string_view stagingFolder, std::string_view fileName) {
  try {
    bool unreadable = false;
    return LookUp(stagingFolder, fileName, unreadable);
  } catch (...) {
    return 0;
  }
}

// Anything thrown on the way (out of memory) counts as a failed copy.
std::int32_t PlaceStagedFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                              TPlacementEvents &events) {
  std::int32_t result = PlacementCopyFailed;
  try {
    result = PlaceFiles(header, destIndex, events);
  } catch (...) {
  }
  try {
    util::DeleteFileIfExists(JoinPath(header.StagingFolder(), FilePathIdName));
  } catch (...) {
  }
  return result;
}

} // namespace packages
