// Placement of unpacked files into the destination folders, directed by the
// package's default index and the records of FILEPATH.ID. Paths are kept at
// full length: a path too long for the host is refused by the copy, never cut.
// A package goes in whole or not at all, through the placement journal.
#include "packages/placement.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "packages/box_caption.h"
#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "util/file_copy.h"
#include "util/text.h"

namespace packages {

namespace {

constexpr int FirstDestIndex = 1;
constexpr int LastDestIndex = admin::DestFolderCount;
constexpr std::string_view BlankFolderFallback = "G:\\";
// Longest path the ANSI file functions take (MAX_PATH without the NUL).
constexpr std::size_t MaxPathChars = 259;

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
  return util::ExtractFolder(withBackslash);
}

bool InDestRange(int index) {
  return index >= FirstDestIndex && index <= LastDestIndex;
}

// The records of a staging folder's marker file, read once per package.
// `failed` is set when the file is there but cannot be read to its end: a name
// not found among the records read would then get the answer 0 and go to the
// wrong folder.
struct TMarker {
  std::vector<std::pair<util::TShortString, std::uint8_t>> Records;
  bool Failed = false;
};

TMarker ReadMarker(std::string_view stagingFolder) {
  TMarker marker;
  platform::TFile file;
  // Only read here, so a read-only marker file from the archive still counts.
  if (!file.OpenRead(JoinPath(stagingFolder, FilePathIdName))) {
    const int error = platform::LastError();
    marker.Failed = error != platform::ErrorFileNotFound && error != platform::ErrorPathNotFound;
    return marker;
  }
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
      marker.Failed = true;
    if (!readOk || got < FilePathEntrySize)
      break;
    std::string_view name(reinterpret_cast<const char *>(record + FileNameCharsOffset),
                          record[FileNameLengthOffset]);
    marker.Records.emplace_back(util::LowerCaseAscii(name), record[FolderIndexOffset]);
  }
  file.Close();
  return marker;
}

// The first record naming `fileName` decides; `unreadable` only when no record
// read names it and the rest of the file could not be read.
std::uint8_t LookUp(const TMarker &marker, std::string_view fileName, bool &unreadable) {
  const util::TShortString key = util::LowerCaseAscii(fileName);
  for (const auto &[name, index] : marker.Records) {
    if (name == key) {
      unreadable = false;
      return InDestRange(index) ? index : 0;
    }
  }
  unreadable = marker.Failed;
  return 0;
}

// A destination folder's names, read once per package: whether a file is
// there already and which temporary and backup names are free need no look-up
// per file (on Wine every look-up of a missing name reads the whole folder).
// Names compared as Windows compares them, without case.
struct TFolderNames {
  std::string Folder;
  bool Listed = false;
  std::unordered_map<std::string, bool> IsFolder;
  // Names held more than once in other case, which a case-sensitive file
  // system allows: Windows takes them for one file, and so does every path
  // to them, so replacing one would land on the other.
  std::unordered_set<std::string> Twins;
};

TFolderNames ReadFolderNames(const std::string &folder) {
  TFolderNames names;
  names.Folder = folder;
  std::vector<platform::TFindEntry> entries;
  names.Listed = platform::FindFiles(JoinPath(folder, "*.*"),
                                     platform::faDirectory | platform::faHidden |
                                         platform::faSysFile | platform::faVolumeID,
                                     entries);
  for (const platform::TFindEntry &entry : entries) {
    const std::string key = platform::Cp1252FoldedKey(entry.Name);
    if (!names.IsFolder.emplace(key, (entry.Attributes & platform::faDirectory) != 0).second)
      names.Twins.insert(key);
  }
  return names;
}

// Whether `name` is in the folder, and `isFolder` whether as a folder; asked
// of the disk only where the folder could not be listed.
bool Has(const TFolderNames &names, const std::string &name, bool &isFolder) {
  if (names.Listed) {
    const auto there = names.IsFolder.find(platform::Cp1252FoldedKey(name));
    isFolder = there != names.IsFolder.end() && there->second;
    return there != names.IsFolder.end();
  }
  std::uint32_t attributes = 0;
  const bool found = platform::GetAttributes(JoinPath(names.Folder, name), attributes);
  isFolder = found && (attributes & platform::faDirectory) != 0;
  return found;
}

bool Taken(const TFolderNames &names, const std::string &name) {
  bool isFolder = false;
  return Has(names, name, isFolder);
}

// The number of the names beside `folder`'s files for a file's temporary copy
// and its previous version, free now and not handed out before in this
// package; `sides` is Short where the long names would make too long a path.
void FreeNames(const TFolderNames &names, std::uint32_t &counter, TSideNames &sides) {
  for (;;) {
    ++counter;
    sides = JoinPath(names.Folder, SideName(counter, TSideNames::Long, true)).size() > MaxPathChars
                ? TSideNames::Short
                : TSideNames::Long;
    if (!Taken(names, SideName(counter, sides, false)) &&
        !Taken(names, SideName(counter, sides, true)))
      return;
  }
}

// 0 or the copy routine's number for the failure. A previous version is
// renamed aside right before the copy takes its place, so that it can come
// back with its attributes and date.
int PlaceOne(const std::string &source, const std::string &destination,
             const TPlacementJournal &journal, const TPlacedFile &file) {
  return util::CopyFileWithDate(source, destination, journal.TempOf(file),
                                file.Existed ? journal.BackupOf(file) : std::string());
}

// Plans the placement into journal.Files, up to the first file that cannot go
// anywhere (its code returned). The staging folder is walked, not listed,
// and the destination listings end here; the plan keeps names only.
std::int32_t PlanFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                       const std::string &staging, TPlacementEvents &events,
                       TPlacementJournal &journal) {
  const util::TShortString markerKey = util::LowerCaseAscii(FilePathIdName);
  int current = destIndex;
  std::uint32_t counter = 0;
  const TMarker marker = ReadMarker(staging);
  // Folders seen to exist, with their names; nothing in them changes before
  // the copies start.
  std::vector<TFolderNames> existingFolders;
  std::int32_t stop = PlacementOk;
  const auto plan = [&](const platform::TFindEntry &entry) {
    const std::string &name = entry.Name;
    // The index carries over to the following files until another record names one.
    bool markerUnreadable = false;
    if (std::uint8_t own = LookUp(marker, name, markerUnreadable); own != 0)
      current = own;
    if (markerUnreadable) {
      stop = PlacementCopyFailed;
      return false;
    }
    if (!InDestRange(current)) {
      events.Note(name + ": destination folder index " + std::to_string(current) +
                  " is outside 1 to 20");
      stop = PlacementBadIndex;
      return false;
    }
    util::TShortString destEntry = util::TrimText(header.DestFolder(current));
    std::string folder =
        destEntry.Empty() ? std::string(BlankFolderFallback) : FolderOfEntry(destEntry);
    auto known =
        std::find_if(existingFolders.begin(), existingFolders.end(),
                     [&folder](const TFolderNames &names) { return names.Folder == folder; });
    if (known == existingFolders.end() && !util::FolderExists(folder)) {
      events.Note(name + ": destination folder " + std::to_string(current) +
                  " does not exist: " + folder);
      stop = PlacementNoFolder;
      return false;
    }
    if (known == existingFolders.end())
      known = existingFolders.insert(known, ReadFolderNames(folder));
    if (util::LowerCaseAscii(name) == markerKey)
      return true;
    if (known->Twins.count(platform::Cp1252FoldedKey(name)) != 0) {
      events.Note(name + ": " + folder + " holds more than one file of that name in other case");
      stop = PlacementRefused;
      return false;
    }
    bool isFolder = false;
    const bool existed = Has(*known, name, isFolder) && !isFolder;
    TSideNames sides = TSideNames::Long;
    FreeNames(*known, counter, sides);
    journal.AddFile(JoinPath(folder, name), counter, sides, existed);
    return true;
  };
  // A staging folder that cannot be read has nothing to place, also when
  // that shows only on the way: no part of a package is placed.
  if (!platform::WalkFiles(JoinPath(staging, "*.*"), platform::faReadOnly | platform::faArchive,
                           plan))
    journal.ClearFiles();
  return stop;
}

std::int32_t PlaceFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                        TPlacementEvents &events, TPlacementJournal &journal) {
  events.ShowGroupCaption(CopyingCaption);
  const std::string staging = header.StagingFolder().Str();
  // The files up to the first one that cannot go anywhere, in listing order;
  // they are placed (and then taken back) before that failure is reported.
  std::int32_t stop = PlanFiles(header, destIndex, staging, events, journal);
  for (const TPlacedFile &file : journal.Files) {
    const std::string destination = journal.PathOf(file.Destination);
    if (!events.MayPlaceAt(destination)) {
      events.Note(destination + " would replace a shared file; nothing of this package placed");
      journal.ClearFiles();
      return PlacementRefused;
    }
  }
  if (journal.Files.empty()) {
    journal.ClearFiles();
    return stop;
  }

  journal.State = TPlacementJournal::TState::Placing;
  if (!WriteJournal(journal)) {
    journal.State = TPlacementJournal::TState::Idle;
    journal.ClearFiles();
    return PlacementCopyFailed;
  }
  for (const TPlacedFile &file : journal.Files) {
    // The staged file has the name it is placed under.
    const std::string source = JoinPath(staging, journal.NameOf(file.Destination));
    const std::string destination = journal.PathOf(file.Destination);
    if (int copyResult = PlaceOne(source, destination, journal, file); copyResult != 0) {
      events.Note("Copying " + source + " to " + destination +
                  " failed: " + platform::ErrorText(platform::LastError()));
      util::TShortString text = "Error=" + util::FormatNumber(10, 0, 0, copyResult);
      platform::ShowMessageBox(events.Owner(), text, BoxCaption, platform::MbOk);
      stop = PlacementCopyFailed;
      break;
    }
    events.Note("Placed " + destination);
  }
  if (stop != PlacementOk) {
    const bool back = RollBackPlacement(journal, false);
    events.Note(back ? "Rolled back: the files of this package that were placed are gone again, "
                       "the files they replaced are back"
                     : "Rolling back this package failed; the journal in the data folder puts it "
                       "back at the next start");
  }
  return stop;
}

} // namespace

std::uint8_t FindIndivFilePath(std::string_view stagingFolder, std::string_view fileName) {
  try {
    bool unreadable = false;
    return LookUp(ReadMarker(stagingFolder), fileName, unreadable);
  } catch (...) {
    return 0;
  }
}

// Anything thrown on the way (out of memory) counts as a failed copy.
std::int32_t PlaceStagedFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                              TPlacementEvents &events, TPlacementJournal &journal) {
  std::int32_t result = PlacementCopyFailed;
  try {
    result = PlaceFiles(header, destIndex, events, journal);
  } catch (...) {
    // What cannot be undone now stays in the journal for the next start.
    if (journal.State == TPlacementJournal::TState::Placing)
      (void)RollBackPlacement(journal, false);
    else
      journal.Files.clear();
  }
  try {
    util::DeleteFileIfExists(JoinPath(header.StagingFolder(), FilePathIdName));
  } catch (...) {
  }
  return result;
}

} // namespace packages
