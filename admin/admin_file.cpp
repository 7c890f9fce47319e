// The administration file and the download record file: whole-record reads
// and writes at fixed positions, scrambled with the settings' AdminSeed.
#include "admin/admin_file.h"

#include <cstring>

#include "admin/scramble.h"
#include "admin/settings.h"
#include "util/dates.h"
#include "util/file_read.h"
#include "util/text.h"

namespace admin {

namespace {

constexpr std::int32_t HeaderSize = static_cast<std::int32_t>(AdminHeaderSize);
constexpr std::int32_t RecordSize = static_cast<std::int32_t>(PackageRecordSize);

bool WriteScrambled(platform::TFile &file, const TPackageRecord &record, std::int32_t seed) {
  TPackageRecord scrambled = record;
  ScrambleBuffer(scrambled.Bytes, RecordSize, seed);
  return file.WriteAll(scrambled.Bytes, PackageRecordSize);
}

// The threshold date of the version fix-up. The host's text reads as month 0,
// i.e. BadDate, so only a date below -1 (which no date routine produces) is
// set back.
std::int32_t FixUpThreshold() {
  return util::ParseDateDigits("04.02.20");
}

} // namespace

bool ReadAdminHeader(std::string_view path, TAdminHeader &header, std::int32_t seed) {
  bool result = false;
  std::memset(header.Bytes, 0, sizeof header.Bytes);
  platform::TFile file;
  bool opened = file.OpenShared(path);
  if (opened) {
    std::uint32_t got = 0;
    if (util::ReadUpTo(file, header.Bytes, AdminHeaderSize, got) && got == AdminHeaderSize) {
      result = true;
      ScrambleBuffer(header.Bytes, HeaderSize, seed);
      if (util::TrimText(header.DownloadFolder()).Empty())
        header.SetDownloadFolder(DefaultDownloadFolder);
      if (util::TrimText(header.StagingFolder()).Empty())
        header.SetStagingFolder(DefaultStagingFolder);
    } else {
      // A partial header is still scrambled; it must neither be looked at nor
      // written back over the host's file.
      std::memset(header.Bytes, 0, sizeof header.Bytes);
    }
  }

  std::int32_t threshold = FixUpThreshold();
  if (header.VersionDate() < threshold || header.VersionDate2() < threshold) {
    header.SetVersionDate(threshold);
    header.SetVersionDate2(threshold);
    header.SetVersionText(FixUpVersionText);
    header.SetVersionNumber(FixUpVersionNumber);
    // The corrected header is used either way; writing it back is a repair.
    if (result || !opened)
      (void)WriteAdminHeader(path, header, seed);
  }
  file.Close();
  return result;
}

bool ReadStoredHeader(std::string_view path, TAdminHeader &header, std::int32_t seed) {
  std::memset(header.Bytes, 0, sizeof header.Bytes);
  platform::TFile file;
  std::uint32_t got = 0;
  if (!file.OpenRead(path) || !util::ReadUpTo(file, header.Bytes, AdminHeaderSize, got) ||
      got != AdminHeaderSize) {
    std::memset(header.Bytes, 0, sizeof header.Bytes);
    return false;
  }
  ScrambleBuffer(header.Bytes, HeaderSize, seed);
  return true;
}

bool WriteAdminHeader(std::string_view path, const TAdminHeader &header, std::int32_t seed) {
  platform::TFile file;
  // Only a missing file is made anew: creating truncates, and an open that
  // failed for another reason would cost every package record behind the header.
  if (!file.OpenShared(path) &&
      (platform::LastError() != platform::ErrorFileNotFound || !file.Create(path)))
    return false;
  TAdminHeader scrambled = header;
  ScrambleBuffer(scrambled.Bytes, HeaderSize, seed);
  bool ok = file.Seek(0) && file.WriteAll(scrambled.Bytes, AdminHeaderSize) && file.Flush();
  file.Close();
  return ok;
}

std::vector<std::uint8_t> AdminFileBytes(const TAdminHeader &header,
                                         const std::vector<TPackageRecord> &records,
                                         std::int32_t seed) {
  std::vector<std::uint8_t> out(header.Bytes, header.Bytes + AdminHeaderSize);
  ScrambleBuffer(out.data(), HeaderSize, seed);
  for (const TPackageRecord &record : records) {
    TPackageRecord scrambled = record;
    ScrambleBuffer(scrambled.Bytes, RecordSize, seed);
    out.insert(out.end(), scrambled.Bytes, scrambled.Bytes + PackageRecordSize);
  }
  return out;
}

bool WriteAdminFile(std::string_view path, const TAdminHeader &header,
                    const std::vector<TPackageRecord> &records, std::int32_t seed) {
  const std::vector<std::uint8_t> bytes = AdminFileBytes(header, records, seed);
  platform::TFile file;
  bool ok =
      file.Create(path) && file.WriteAll(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  file.Close();
  return ok;
}

bool WritePackage(std::string_view path, std::int64_t index, const TPackageRecord &record,
                  std::int32_t seed) {
  platform::TFile file;
  if (index < 0 || !file.OpenShared(path))
    return false;
  bool ok = file.Seek(static_cast<std::int64_t>(AdminHeaderSize) +
                      index * static_cast<std::int64_t>(PackageRecordSize)) &&
            WriteScrambled(file, record, seed);
  file.Close();
  return ok;
}

bool ReadNextPackage(platform::TFile &file, std::string_view path, TPackageRecord &record,
                     std::int32_t seed, bool &first) {
  std::memset(record.Bytes, 0, sizeof record.Bytes);
  bool ok = true;
  if (first) {
    first = false;
    ok = file.OpenShared(path);
    if (ok) {
      TAdminHeader skipped;
      std::uint32_t got = 0;
      ok = util::ReadUpTo(file, skipped.Bytes, AdminHeaderSize, got) && got == AdminHeaderSize;
    }
  }
  if (ok) {
    bool atEnd = true;
    ok = file.AtEnd(atEnd) && !atEnd;
  }
  if (ok) {
    std::uint32_t got = 0;
    ok = util::ReadUpTo(file, record.Bytes, PackageRecordSize, got) && got == PackageRecordSize;
    if (ok)
      ScrambleBuffer(record.Bytes, RecordSize, seed);
  }
  if (!ok)
    std::memset(record.Bytes, 0, sizeof record.Bytes);
  return ok;
}

bool RewritePackage(platform::TFile &file, TPackageRecord &record, std::int32_t seed) {
  std::int64_t position = 0;
  if (!file.Position(position))
    return false;
  std::int64_t start = position - static_cast<std::int64_t>(PackageRecordSize);
  if (start < static_cast<std::int64_t>(AdminHeaderSize))
    return false;
  if (!file.Seek(start))
    return false;
  MarkApplied(record);
  // Durable before anything relies on it (the journal of the package goes).
  return WriteScrambled(file, record, seed) && file.Flush();
}

TRecordUndo RecordUndoOf(std::string_view adminPath, std::int64_t offset,
                         const TPackageRecord &record, std::int32_t seed) {
  TRecordUndo undo;
  // A position that cannot be a record's leaves nothing to undo.
  if (offset >= static_cast<std::int64_t>(AdminHeaderSize))
    undo.AdminPath = std::string(adminPath);
  undo.Offset = offset;
  TPackageRecord stored = record;
  ScrambleBuffer(stored.Bytes, RecordSize, seed);
  std::memcpy(undo.Before.data(), stored.Bytes, PackageRecordSize);
  stored = record;
  MarkApplied(stored);
  ScrambleBuffer(stored.Bytes, RecordSize, seed);
  std::memcpy(undo.After.data(), stored.Bytes, PackageRecordSize);
  return undo;
}

bool UndoRecord(const TRecordUndo &undo, bool *written) {
  if (written != nullptr)
    *written = false;
  std::uint32_t attributes = 0;
  if (undo.AdminPath.empty() || !platform::GetAttributes(undo.AdminPath, attributes))
    return true;
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenShared(undo.AdminPath) || !file.Size(size))
    return false;
  std::array<std::uint8_t, PackageRecordSize> stored{};
  if (size < undo.Offset + static_cast<std::int64_t>(stored.size()))
    return true;
  std::uint32_t got = 0;
  if (!file.Seek(undo.Offset) || !util::ReadUpTo(file, stored.data(), PackageRecordSize, got) ||
      got != PackageRecordSize)
    return false;
  if (stored != undo.After)
    return true;
  const bool done = file.Seek(undo.Offset) &&
                    file.WriteAll(undo.Before.data(), PackageRecordSize) && file.Flush();
  if (written != nullptr)
    *written = done;
  return done;
}

void MarkApplied(TPackageRecord &record) {
  for (int k = 1; k <= PackageInfoCount; ++k)
    record.SetInstalledInfo(k, record.OfferedInfo(k));
  record.SetInstallPending(0);
}

void RecordRunResult(TAdminHeader &header, std::int32_t result) {
  StampRunResult(header, result);
  WriteRunResult(header);
}

void StampRunResult(TAdminHeader &header, std::int32_t result) {
  header.SetLastResult(result);
  header.SetLastRunDate(util::CurrentDayNumber());
  header.SetLastRunTime(util::CurrentSecondOfDay());
  if (result == 0) {
    util::TShortString offered = header.OfferedVersionText();
    header.SetVersionText(offered.View());
    header.SetVersionDate(header.OfferedVersionDate());
    header.SetUpdatePending(0);
  }
}

void WriteRunResult(const TAdminHeader &header) {
  util::TShortString path = Settings.AdminFileName();
  // The run has ended; its result has no one left to go to if this fails.
  (void)WriteAdminHeader(path.View(), header, Settings.AdminSeed());
}

bool ReadDownloadRecord(std::string_view path, TDownloadRecord &record, std::int32_t seed) {
  std::memset(record.Bytes, 0, sizeof record.Bytes);
  platform::TFile file;
  if (!file.OpenShared(path))
    return false;
  std::uint32_t got = 0;
  bool result =
      util::ReadUpTo(file, record.Bytes, DownloadRecordSize, got) && got == DownloadRecordSize;
  ScrambleBuffer(record.Bytes, static_cast<std::int32_t>(DownloadRecordSize), seed);
  file.Close();
  return result;
}

} // namespace admin
