// Extraction of the matching entries into the destination folder. Every entry
// name is cleaned and every selected entry checked before the first byte is
// written; each file is written to a temporary name in the destination and
// renamed over the target once its data, CRC-32 and size have checked out.
#include "dunzip/extract.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "dunzip/dunzip_command.h"
#include "dunzip/entry_name.h"
#include "dunzip/zip_reader.h"
#include "platform/files.h"
#include "platform/path_parts.h"

namespace dunzip {

namespace {

class TFileSource : public TByteSource {
public:
  explicit TFileSource(platform::TFile &file) : File(file) {}
  bool Open() { return File.Size(Length); }
  std::uint64_t Size() const override { return static_cast<std::uint64_t>(Length); }
  bool ReadAt(std::uint64_t offset, void *buffer, std::size_t count) override {
    if (offset != Position) {
      if (!File.Seek(static_cast<std::int64_t>(offset)))
        return false;
      Position = offset;
    }
    auto *out = static_cast<std::uint8_t *>(buffer);
    while (count > 0) {
      std::uint32_t got = 0;
      auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(count, 1u << 30));
      if (!File.Read(out, chunk, got) || got == 0) {
        Position = ~std::uint64_t(0);
        return false;
      }
      out += got;
      count -= got;
      Position += got;
    }
    return true;
  }

private:
  platform::TFile &File;
  std::int64_t Length = 0;
  std::uint64_t Position = 0;
};

// One entry with its cleaned name. Only one is held at a time: the entries
// are read again from the archive's directory for every pass, so memory does
// not grow with the number of entries.
struct TPlannedEntry {
  TZipEntry Entry;
  std::string Archived; // the name as archived, for a failure
  TCleanName Name;
  std::string Relative; // folder parts kept or not, "\"-separated
};

TDunzipResult FromZipError(TZipError error) {
  // In the order of TZipError.
  constexpr TDunzipResult Results[] = {dzOk,       dzOpenFailed,  dzBadArchive,
                                       dzCrcError, dzUnsupported, dzWriteFailed};
  static_assert(static_cast<std::size_t>(TZipError::SinkFailed) + 1 == std::size(Results));
  const auto index = static_cast<std::size_t>(error);
  return index < std::size(Results) ? Results[index] : dzInternal;
}

std::string JoinPath(const std::string &folder, const std::string &name) {
  if (folder.empty())
    return name;
  char last = folder.back();
  return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

bool ValidDosDateTime(std::uint32_t dos) {
  unsigned day = (dos >> 16) & 0x1F, month = (dos >> 21) & 0x0F;
  unsigned second = (dos & 0x1F) * 2, minute = (dos >> 5) & 0x3F, hour = (dos >> 11) & 0x1F;
  return day >= 1 && month >= 1 && month <= 12 && hour <= 23 && minute <= 59 && second <= 59;
}

// Progress for the status entries: called only when a percentage changes.
class TProgress {
public:
  TProgress(const TExtractRequest &request, std::uint64_t totalBytes, std::size_t totalItems)
      : Request(request), TotalBytes(totalBytes), TotalItems(totalItems) {}

  bool StartItem(const std::string &name, std::uint64_t size) {
    Item = name;
    ItemSize = size;
    ItemDone = 0;
    MinorShown = -1;
    return Minor(0) && Major();
  }
  bool Advance(std::uint64_t bytes) {
    ItemDone += bytes;
    // The last piece is shown by FinishItem's 100 right after: a 99 in between
    // costs the caller a repaint of its meter for every file that arrives in
    // one piece, most of the time of a small file under Wine.
    if (ItemDone >= ItemSize)
      return Major();
    // 100 waits until the file is in place.
    int minor = ItemSize == 0
                    ? 0
                    : static_cast<int>(std::min<std::uint64_t>(ItemDone * 100 / ItemSize, 99));
    return (minor == MinorShown || Minor(minor)) && Major();
  }
  bool FinishItem() {
    BytesBefore += ItemSize;
    ++ItemsDone;
    ItemDone = 0;
    return Minor(100) && Major();
  }
  bool Begin() { return Major(); }

private:
  bool Minor(int percent) {
    MinorShown = percent;
    if (Request.MinorStatus == nullptr)
      return true;
    bool cancel = Request.MinorStatus(Item.c_str(), percent, Request.MinorUserData) != 0;
    return !(cancel && (Request.SubOptions & USO_MINORCANCEL) != 0);
  }
  bool Major() {
    int percent;
    if (TotalBytes > 0)
      percent = static_cast<int>((BytesBefore + ItemDone) * 100 / TotalBytes);
    else
      percent = TotalItems == 0 ? 100 : static_cast<int>(ItemsDone * 100 / TotalItems);
    percent = std::min(percent, 100);
    if (percent == MajorShown || Request.MajorStatus == nullptr)
      return true;
    MajorShown = percent;
    return Request.MajorStatus(Item.c_str(), percent, Request.MajorUserData) == 0;
  }

  const TExtractRequest &Request;
  std::uint64_t TotalBytes;
  std::size_t TotalItems;
  std::uint64_t BytesBefore = 0;
  std::size_t ItemsDone = 0;
  std::string Item;
  std::uint64_t ItemSize = 0;
  std::uint64_t ItemDone = 0;
  int MinorShown = -1;
  int MajorShown = -1;
};

class TFileSink : public TByteSink {
public:
  TFileSink(platform::TFile *file, TProgress &progress) : File(file), Progress(progress) {}
  bool Write(const std::uint8_t *data, std::size_t count) override {
    if (File != nullptr && !File->WriteAll(data, static_cast<std::uint32_t>(count))) {
      Failure = dzWriteFailed;
      return false;
    }
    if (!Progress.Advance(count)) {
      Failure = dzCancelled;
      return false;
    }
    return true;
  }
  TDunzipResult Failure = dzWriteFailed;

private:
  platform::TFile *File;
  TProgress &Progress;
};

constexpr std::string_view TempPrefix = "~dz";

bool Agrees(const TExtractRequest &request, std::uint16_t message, const std::string &path) {
  if (request.Message == nullptr)
    return false;
  std::int32_t answer =
      request.Message(message, MbYesNo, 0, 0, path.c_str(), nullptr, request.MessageUserData);
  return answer == IdYes || answer == IdOk;
}

bool MakeFolders(const std::string &destination, const std::vector<std::string> &folders,
                 std::string &folder) {
  folder = destination;
  for (const std::string &part : folders) {
    folder = JoinPath(folder, part);
    std::uint32_t attributes = 0;
    if (!platform::CreateFolder(folder) &&
        !(platform::GetAttributes(folder, attributes) && (attributes & platform::faDirectory)))
      return false;
  }
  return true;
}

// One file entry: asks before replacing what the options do not allow to
// replace, writes the data to a temporary file, then renames it into place.
TDunzipResult ExtractFile(const TExtractRequest &request, TZipReader &reader,
                          const TPlannedEntry &plan, TProgress &progress) {
  const TZipEntry &entry = plan.Entry;
  if (!progress.StartItem(plan.Relative, entry.UncompressedSize))
    return dzCancelled;
  if (request.Test) {
    TFileSink sink(nullptr, progress);
    TZipError error = reader.ExtractEntry(entry, sink);
    if (error == TZipError::SinkFailed)
      return sink.Failure;
    if (error != TZipError::None)
      return FromZipError(error);
    return progress.FinishItem() ? dzOk : dzCancelled;
  }

  std::string folder = request.Destination;
  if (!request.NoDirectoryNames && !MakeFolders(request.Destination, plan.Name.Folders, folder))
    return dzWriteFailed;
  const std::string target = JoinPath(folder, plan.Name.Name);
  std::uint32_t existing = 0;
  bool exists = platform::GetAttributes(target, existing);
  if (exists) {
    if ((existing & platform::faDirectory) != 0)
      return dzWriteFailed;
    if (!request.OverWrite && !Agrees(request, MsgOverwriteExisting, target))
      return progress.FinishItem() ? dzOk : dzCancelled;
    if ((existing & platform::faReadOnly) != 0 && (request.SubOptions & USO_OVERWRITE_RO) == 0 &&
        !Agrees(request, MsgOverwriteReadOnly, target))
      return progress.FinishItem() ? dzOk : dzCancelled;
  }

  platform::TTempFile temp;
  if (!temp.Create(target, TempPrefix))
    return dzWriteFailed;
  TFileSink sink(&temp.File(), progress);
  TZipError error = reader.ExtractEntry(entry, sink);
  if (error == TZipError::SinkFailed)
    return sink.Failure;
  if (error != TZipError::None)
    return FromZipError(error);
  const std::uint32_t dosTime = entry.DosDateTime();
  // No flush to the disk: a forced write of every file costs a disk round trip
  // each (seconds for a package of many files), the staging folder is scratch
  // that the run empties again, and the rename still follows the last write.
  if (ValidDosDateTime(dosTime) && !temp.File().SetDosTime(dosTime))
    return dzWriteFailed;

  if (exists && (existing & platform::faReadOnly) != 0) {
    std::uint32_t cleared = existing & ~platform::faReadOnly;
    if (!platform::SetAttributes(target, cleared != 0 ? cleared : platform::faNormal))
      return dzWriteFailed;
  }
  if (!temp.Commit({}, platform::TDurable::No))
    return dzWriteFailed;
  if (entry.MadeOnDos()) {
    std::uint32_t attributes = entry.DosAttributes();
    if (!platform::SetAttributes(target, attributes != 0 ? attributes : platform::faNormal))
      return dzWriteFailed;
  }
  return progress.FinishItem() ? dzOk : dzCancelled;
}

// Free space of the destination's volume, asked of the nearest folder that
// exists (the destination itself is made only later). False when no folder
// answers.
bool FreeSpaceFor(std::string folder, std::uint64_t &bytes) {
  while (!folder.empty()) {
    if (platform::FreeSpace(folder, bytes))
      return true;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
      folder.pop_back();
    folder.resize(platform::NameStart(folder, "\\/"));
  }
  return false;
}

bool Selected(const TExtractRequest &request, std::size_t index, const TPlannedEntry &plan) {
  if (request.IndexofItem >= 0 && static_cast<std::size_t>(request.IndexofItem) != index)
    return false;
  const std::string &spec = request.FileSpec.empty() ? std::string("*.*") : request.FileSpec;
  bool withFolders = spec.find_first_of("\\/") != std::string::npos;
  return platform::MatchesMask(withFolders ? plan.Relative : plan.Name.Name, spec);
}

enum class TRole { Skipped, File, Folder };

// Reads entry `index`, cleans its name and says what the request does with it.
TDunzipResult PlanEntry(const TExtractRequest &request, TZipReader &reader, std::size_t index,
                        TPlannedEntry &plan, TRole &role) {
  role = TRole::Skipped;
  plan.Archived.clear();
  TZipError error = reader.ReadEntry(index, plan.Entry);
  if (error != TZipError::None)
    return FromZipError(error);
  std::string name;
  if (!DecodeEntryName(plan.Entry, name)) {
    plan.Archived = plan.Entry.RawName;
    return dzBadName;
  }
  plan.Archived = name;
  // The archived folder itself names no folder to make: nothing to do.
  if (plan.Entry.IsFolder() && IsCurrentFolderItem(name))
    return dzOk;
  if (!CleanEntryName(name, plan.Name))
    return dzBadName;
  plan.Relative = plan.Name.Name;
  if (!request.NoDirectoryNames) {
    for (auto it = plan.Name.Folders.rbegin(); it != plan.Name.Folders.rend(); ++it)
      plan.Relative = *it + "\\" + plan.Relative;
  }
  if (!Selected(request, index, plan))
    return dzOk;
  if (plan.Entry.IsFolder()) {
    if (!request.NoDirectoryNames && !request.NoDirectoryItems)
      role = TRole::Folder;
    return dzOk;
  }
  role = TRole::File;
  return dzOk;
}

// Walks the entries of `role` in archive order, planning each one anew (the
// plan is not kept between walks, so memory does not grow with the entries).
// Stops at the first result other than dzOk, with the entry in `failure`.
template <typename TVisit>
TDunzipResult ForEachPlanned(const TExtractRequest &request, TZipReader &reader, TRole wanted,
                             TExtractFailure &failure, TVisit visit) {
  TPlannedEntry plan;
  TRole role = TRole::Skipped;
  for (std::size_t i = 0; i < reader.EntryCount(); ++i) {
    TDunzipResult result = PlanEntry(request, reader, i, plan, role);
    if (result == dzOk && role == wanted)
      result = visit(plan);
    if (result != dzOk) {
      failure.Item = plan.Archived;
      return result;
    }
  }
  return dzOk;
}

// The system's error that explains `result`, read right after the failure:
// the clean-up on the way (a temporary file removed) keeps it.
TDunzipResult Failed(TDunzipResult result, TExtractFailure &failure) {
  failure.OsError = result == dzOpenFailed || result == dzWriteFailed ? platform::LastError()
                    : result == dzNoSpace                             ? platform::ErrorDiskFull
                                                                      : 0;
  return result;
}

} // namespace

TDunzipResult Extract(const TExtractRequest &request, std::uint32_t &extracted,
                      TExtractFailure *failure) {
  extracted = 0;
  TExtractFailure ignored;
  TExtractFailure &f = failure != nullptr ? *failure : ignored;
  f = TExtractFailure();
  platform::TFile archive;
  if (!archive.OpenRead(request.ZipFile))
    return Failed(dzOpenFailed, f);
  TFileSource source(archive);
  if (!source.Open())
    return Failed(dzOpenFailed, f);
  TZipReader reader(source);
  TZipError error = reader.Open();
  if (error != TZipError::None)
    return Failed(FromZipError(error), f);

  // Every name is checked, and every selected entry's form, before anything
  // is written.
  std::size_t fileCount = 0;
  std::uint64_t totalBytes = 0;
  TDunzipResult result =
      ForEachPlanned(request, reader, TRole::File, f, [&](const TPlannedEntry &plan) {
        if (plan.Entry.IsEncrypted() || !plan.Entry.MethodSupported())
          return dzUnsupported;
        // Saturating: declared sizes that wrap around must not look small.
        const std::uint64_t size = plan.Entry.UncompressedSize;
        totalBytes = size > UINT64_MAX - totalBytes ? UINT64_MAX : totalBytes + size;
        ++fileCount;
        return dzOk;
      });
  if (result != dzOk)
    return Failed(result, f);

  if (!request.Test) {
    // Sizes are declared by the archive: refuse one that cannot fit before
    // writing anything, rather than fill the volume and fail half-way. When
    // the volume cannot be asked, writing still stops at a full disk.
    std::uint64_t available = 0;
    if (FreeSpaceFor(request.Destination, available) && totalBytes > available)
      return Failed(dzNoSpace, f);
    // May exist already; a folder that cannot be made fails at the first file.
    (void)platform::CreateFolder(request.Destination);
    result = ForEachPlanned(request, reader, TRole::Folder, f, [&](const TPlannedEntry &plan) {
      std::vector<std::string> parts = plan.Name.Folders;
      parts.push_back(plan.Name.Name);
      std::string made;
      return MakeFolders(request.Destination, parts, made) ? dzOk : dzWriteFailed;
    });
    if (result != dzOk)
      return Failed(result, f);
  }

  TProgress progress(request, totalBytes, fileCount);
  if (!progress.Begin())
    return dzCancelled;
  result = ForEachPlanned(request, reader, TRole::File, f, [&](const TPlannedEntry &plan) {
    const TDunzipResult extractedOne = ExtractFile(request, reader, plan, progress);
    if (extractedOne == dzOk)
      ++extracted;
    return extractedOne;
  });
  return result == dzOk ? dzOk : Failed(result, f);
}

} // namespace dunzip
