// Placement of unpacked files into the destination folders, directed by the
// package's default index and the records of FILEPATH.ID. Paths are kept at
// full length: a path too long for the copy is refused before the first file
// moves, never cut. A package goes in whole or not at all: what can be known
// is checked first, the rest is undone through the placement journal.
#include "packages/placement.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "packages/box_caption.h"
#include "packages/package_signature.h"
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
// The copy routine's numbers that a failure known in advance is shown with.
constexpr int CopyCannotCreate = 2;
constexpr int CopyWriteFailed = 4;
// Room a file takes beyond its bytes: a cluster at most.
constexpr std::uint64_t ClusterSlack = 4096;

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
// and its previous version, free now, not handed out before in this package
// and no name that the package itself places (`staged`, folded);
// `sides` is Short where the long names would make too long a path.
void FreeNames(const TFolderNames &names, const std::unordered_set<std::string> &staged,
               std::uint32_t id, std::uint32_t &counter, TSideNames &sides) {
  const auto free = [&](const std::string &name) {
    return !Taken(names, name) && staged.count(platform::Cp1252FoldedKey(name)) == 0;
  };
  for (;;) {
    ++counter;
    sides =
        JoinPath(names.Folder, SideName(id, counter, TSideNames::Long, true)).size() > MaxPathChars
            ? TSideNames::Short
            : TSideNames::Long;
    if (free(SideName(id, counter, sides, false)) && free(SideName(id, counter, sides, true)))
      return;
  }
}

// The staging folder's names (folded): a side name must never be one of them.
std::unordered_set<std::string> StagedNames(const std::string &staging) {
  std::unordered_set<std::string> names;
  (void)platform::WalkFiles(JoinPath(staging, "*.*"), platform::faReadOnly | platform::faArchive,
                            [&names](const platform::TFindEntry &entry) {
                              names.insert(platform::Cp1252FoldedKey(entry.Name));
                              return true;
                            });
  return names;
}

// A failure known before the first file moves, shown as the copy routine
// would have reported it.
struct TPlanStop {
  std::int32_t Code = admin::RunOk;
  int CopyResult = 0;
};

// Every volume needs room for what the package places on it; the previous
// versions stay as backups until the package is complete. Folders whose
// volumes report the same free space are taken as one volume, which at worst
// asks for more room than needed.
bool EnoughSpace(const std::map<std::string, std::uint64_t> &needs, TPlacementEvents &events) {
  std::map<std::uint64_t, std::uint64_t> byVolume;
  std::map<std::uint64_t, std::string> folderOf;
  for (const auto &[folder, need] : needs) {
    std::uint64_t free = 0;
    if (!platform::FreeSpace(folder, free))
      continue; // not known: the copy finds out, and the package is rolled back
    byVolume[free] += need;
    folderOf.emplace(free, folder);
  }
  for (const auto &[free, need] : byVolume) {
    if (need > free) {
      events.Note("Not enough space for the package on the volume of " + folderOf[free] + ": " +
                  std::to_string(need) + " bytes needed, " + std::to_string(free) +
                  " free: " + platform::ErrorText(platform::ErrorDiskFull));
      return false;
    }
  }
  return true;
}

// 0 or the copy routine's number for the failure. A previous version is
// renamed aside right before the copy takes its place, so that it can come
// back with its attributes and date.
int PlaceOne(const std::string &source, const std::string &destination,
             const TPlacementJournal &journal, const TPlacedFile &file,
             platform::TFlushBehind &behind) {
  return util::CopyFileWithDate(source, destination, journal.TempOf(file),
                                file.Existed ? journal.BackupOf(file) : std::string(), behind);
}

// Plans the placement into journal.Files, up to the first file that cannot go
// anywhere (its code returned). The staging folder is walked, not listed,
// and the destination listings end here; the plan keeps names only.
TPlanStop PlanFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                    const std::string &staging, TPlacementEvents &events,
                    TPlacementJournal &journal) {
  const util::TShortString markerKey = util::LowerCaseAscii(FilePathIdName);
  const util::TShortString manifestKey = util::LowerCaseAscii(ManifestName);
  journal.Id = NewPlacementId();
  int current = destIndex;
  std::uint32_t counter = 0;
  const TMarker marker = ReadMarker(staging);
  const std::unordered_set<std::string> staged = StagedNames(staging);
  // Folders seen to exist, with their names; nothing in them changes before
  // the copies start.
  std::vector<TFolderNames> existingFolders;
  std::map<std::string, std::uint64_t> needs;
  TPlanStop stop;
  const auto cannotCreate = [&stop, &events](const std::string &why) {
    events.Note(why);
    stop = {admin::RunCopyFailed, CopyCannotCreate};
    return false;
  };
  const auto plan = [&](const platform::TFindEntry &entry) {
    const std::string &name = entry.Name;
    // The signed manifest only vouches for the package; it never goes
    // anywhere, nor takes part in the checks, so that a signed package is
    // placed as the same package unsigned.
    if (util::LowerCaseAscii(name) == manifestKey)
      return true;
    // The index carries over to the following files until another record names one.
    bool markerUnreadable = false;
    if (std::uint8_t own = LookUp(marker, name, markerUnreadable); own != 0)
      current = own;
    if (markerUnreadable) {
      events.Note(JoinPath(staging, FilePathIdName) + " cannot be read to its end");
      stop = {admin::RunCopyFailed, 1};
      return false;
    }
    if (!InDestRange(current)) {
      events.Note(name + ": destination folder index " + std::to_string(current) +
                  " is outside 1 to 20");
      stop.Code = admin::RunBadDestIndex;
      return false;
    }
    const std::string folder = DestinationFolder(header, current);
    auto known =
        std::find_if(existingFolders.begin(), existingFolders.end(),
                     [&folder](const TFolderNames &names) { return names.Folder == folder; });
    if (known == existingFolders.end() && !util::FolderExists(folder)) {
      events.Note(name + ": destination folder " + std::to_string(current) +
                  " does not exist: " + folder);
      stop.Code = admin::RunDestFolderMissing;
      return false;
    }
    if (known == existingFolders.end())
      known = existingFolders.insert(known, ReadFolderNames(folder));
    if (util::LowerCaseAscii(name) == markerKey)
      return true;
    if (known->Twins.count(platform::Cp1252FoldedKey(name)) != 0) {
      events.Note(name + ": " + folder + " holds more than one file of that name in other case");
      stop.Code = admin::RunFoldersInvalid;
      return false;
    }
    const std::string destination = JoinPath(folder, name);
    const std::string source = JoinPath(staging, name);
    // The copy takes no longer path: it would fail half-way through the package.
    if (destination.size() > util::TShortString::Capacity ||
        source.size() > util::TShortString::Capacity)
      return cannotCreate("Copying " + source + " to " + destination + " is not possible: " +
                          platform::ErrorText(platform::ErrorFileNameTooLong));
    bool isFolder = false;
    const bool existed = Has(*known, name, isFolder);
    if (isFolder)
      return cannotCreate("Copying " + source + " to " + destination +
                          " is not possible: a folder of that name is in the way");
    // What recovery may later remove or put back is what it can prove: the
    // bytes placed and the bytes they replace.
    TProof placed, replaced;
    if (!ProofOf(source, placed))
      return cannotCreate("Reading " + source +
                          " failed: " + platform::ErrorText(platform::LastError()));
    if (existed && !ProofOf(destination, replaced))
      return cannotCreate("Reading " + destination + ", which the package replaces, failed: " +
                          platform::ErrorText(platform::LastError()));
    TSideNames sides = TSideNames::Long;
    FreeNames(*known, staged, journal.Id, counter, sides);
    journal.AddFile(destination, journal.Id, counter, sides, existed, placed, replaced);
    needs[folder] += entry.Size + ClusterSlack;
    return true;
  };
  // A staging folder that cannot be read has nothing to place, also when
  // that shows only on the way: no part of a package is placed.
  if (!platform::WalkFiles(JoinPath(staging, "*.*"), platform::faReadOnly | platform::faArchive,
                           plan))
    journal.ClearFiles();
  if (stop.Code == admin::RunOk && !EnoughSpace(needs, events))
    stop = {admin::RunCopyFailed, CopyWriteFailed};
  return stop;
}

std::int32_t CopyFailed(TPlacementEvents &events, int copyResult) {
  return ShowCopyFailure(events.Owner(), copyResult);
}

std::int32_t PlaceFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                        TPlacementEvents &events, TPlacementJournal &journal) {
  events.ShowGroupCaption(CopyingCaption);
  const std::string staging = header.StagingFolder().Str();
  // Whatever can be known before a file moves is: a package that cannot go
  // in whole does not start.
  const TPlanStop stop = PlanFiles(header, destIndex, staging, events, journal);
  if (stop.Code != admin::RunOk) {
    journal.ClearFiles();
    return stop.Code == admin::RunCopyFailed ? CopyFailed(events, stop.CopyResult) : stop.Code;
  }
  for (const TPlacedFile &file : journal.Files) {
    const std::string destination = journal.PathOf(file.Destination);
    if (!events.MayPlaceAt(destination)) {
      events.Note(destination + " would replace a shared file; nothing of this package placed");
      journal.ClearFiles();
      return admin::RunFoldersInvalid;
    }
  }
  if (journal.Files.empty()) {
    journal.ClearFiles();
    return admin::RunOk;
  }
  if (JournalSize(journal) > MaxJournalSize) {
    events.Note("The package has too many files to be undone after a crash (its journal would "
                "exceed " +
                std::to_string(MaxJournalSize) + " bytes); nothing of it placed");
    journal.ClearFiles();
    return CopyFailed(events, CopyWriteFailed);
  }

  journal.State = TPlacementJournal::TState::Placing;
  if (!WriteJournal(journal)) {
    // Not the user's fault: the package goes in with its undo held here. A
    // part written on the way would speak for an undo it does not hold.
    events.Note("The journal " + journal.Path +
                " cannot be written: " + platform::ErrorText(platform::LastError()) +
                "; this package is placed with its undo in memory, so a crash now could not "
                "be undone");
    (void)RemoveJournal(journal);
    journal.InMemory = true;
  }
  std::int32_t result = admin::RunOk;
  std::size_t attempted = 0;
  {
    // Each file is flushed while the next ones are copied; all of them are
    // on the disk before the flush of their folders, and before a rollback
    // touches them.
    platform::TFlushBehind behind;
    for (const TPlacedFile &file : journal.Files) {
      ++attempted;
      // The staged file has the name it is placed under.
      const std::string source = JoinPath(staging, journal.NameOf(file.Destination));
      const std::string destination = journal.PathOf(file.Destination);
      if (int copyResult = PlaceOne(source, destination, journal, file, behind); copyResult != 0) {
        events.Note("Copying " + source + " to " + destination +
                    " failed: " + platform::ErrorText(platform::LastError()));
        result = CopyFailed(events, copyResult);
        break;
      }
      events.Note("Placed " + destination);
    }
    if (!behind.Finish() && result == admin::RunOk) {
      events.Note("Flushing the placed files failed: " +
                  platform::ErrorText(platform::LastError()));
      result = CopyFailed(events, CopyCannotCreate);
    }
  }
  if (result != admin::RunOk) {
    // Only what this run changed goes back: the files after the failed one
    // were never touched.
    journal.Files.resize(attempted);
    const bool back = RollBackPlacement(journal, false);
    events.Note(back ? "Rolled back: the files of this package that were placed are gone again, "
                       "the files they replaced are back"
                     : journal.Problem + "; rolling back this package failed, the journal in "
                                         "the data folder puts it back at the next start");
  }
  return result;
}

} // namespace

std::int32_t ShowCopyFailure(platform::THandle owner, int copyResult) {
  util::TShortString text = "Error=" + util::FormatNumber(10, 0, 0, copyResult);
  platform::ShowMessageBox(owner, text, BoxCaption, platform::MbOk);
  return admin::RunCopyFailed;
}

std::string DestinationFolder(const admin::TAdminHeader &header, int index) {
  const util::TShortString entry = util::TrimText(header.DestFolder(index));
  return entry.Empty() ? std::string(BlankFolderFallback) : FolderOfEntry(entry);
}

std::uint8_t FindIndivFilePath(std::string_view stagingFolder, std::string_view fileName) {
  bool unreadable = false;
  return LookUp(ReadMarker(stagingFolder), fileName, unreadable);
}

// Anything thrown on the way (out of memory) counts as a failed copy.
std::int32_t PlaceStagedFiles(const admin::TAdminHeader &header, std::uint8_t destIndex,
                              TPlacementEvents &events, TPlacementJournal &journal) {
  std::int32_t result = admin::RunCopyFailed;
  try {
    result = PlaceFiles(header, destIndex, events, journal);
  } catch (...) {
    // What cannot be undone now stays in the journal for the next start.
    if (journal.State == TPlacementJournal::TState::Placing)
      (void)RollBackPlacement(journal, false);
    else
      journal.Files.clear();
  }
  util::DeleteFileIfExists(JoinPath(header.StagingFolder(), FilePathIdName));
  return result;
}

} // namespace packages
