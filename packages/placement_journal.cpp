// Encoding, writing and replaying the placement journal. Every step of the
// replay can be repeated after a further crash: it looks at what is on disk
// (is the backup still there?) and not at how far an earlier attempt came.
#include "packages/placement_journal.h"

#include <cstring>
#include <utility>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "packages/package_check.h"
#include "platform/files.h"
#include "util/byte_order.h"

namespace packages {

namespace {

// Layout: magic @0, body length @4, CRC-32 of the body @8, body @12. The body
// holds the fields in declaration order; texts as a 16-bit length and bytes,
// counts as 32 bits, the offset as 64 bits, all little-endian.
constexpr std::uint8_t Magic[4] = {'Z', 'R', 'K', 'J'};
constexpr std::size_t BodyLengthOffset = 4;
constexpr std::size_t CrcOffset = 8;
constexpr std::size_t BodyOffset = 12;
static_assert(CrcOffset == BodyLengthOffset + 4 && BodyOffset == CrcOffset + 4);
// Far above any real journal; a larger file is not one of ours.
constexpr std::uint32_t MaxJournalSize = 16u << 20;

std::uint32_t Checksum(const std::uint8_t *bytes, std::size_t count) {
  return ~UpdateCrc32(bytes, static_cast<std::int32_t>(count), Crc32Start);
}

class TWriter {
public:
  std::vector<std::uint8_t> Bytes;
  void Int(std::uint64_t value, int size) {
    util::AppendLE(Bytes, static_cast<std::size_t>(size), value);
  }
  void Text(const std::string &text) {
    Int(text.size(), 2);
    Bytes.insert(Bytes.end(), text.begin(), text.end());
  }
  template <std::size_t N> void Raw(const std::array<std::uint8_t, N> &raw) {
    Bytes.insert(Bytes.end(), raw.begin(), raw.end());
  }
};

class TReader {
public:
  TReader(const std::uint8_t *bytes, std::size_t size) : Bytes(bytes), Size(size) {}
  bool Ok = true;
  std::uint64_t Int(int size) {
    if (!Take(static_cast<std::size_t>(size)))
      return 0;
    return util::GetLE(Bytes, At - static_cast<std::size_t>(size), static_cast<std::size_t>(size));
  }
  std::string Text() {
    const std::size_t length = static_cast<std::size_t>(Int(2));
    if (!Take(length))
      return {};
    return std::string(reinterpret_cast<const char *>(Bytes + At - length), length);
  }
  template <std::size_t N> void Raw(std::array<std::uint8_t, N> &raw) {
    if (Take(N))
      std::memcpy(raw.data(), Bytes + At - N, N);
  }
  bool AtEnd() const { return At == Size; }

private:
  bool Take(std::size_t count) {
    if (!Ok || Size - At < count)
      return Ok = false;
    At += count;
    return true;
  }
  const std::uint8_t *Bytes;
  std::size_t Size;
  std::size_t At = 0;
};

bool Exists(std::string_view path) {
  std::uint32_t attributes = 0;
  return !path.empty() && platform::GetAttributes(path, attributes);
}

// One retry: a virus scanner or an indexer may hold a file for a moment.
template <typename TStep> bool Twice(TStep step) {
  return step() || step();
}

// Removes a file of ours, read-only or not; true when it is gone.
bool RemoveFile(std::string_view path) {
  return !Exists(path) || Twice([path] {
    std::uint32_t attributes = 0;
    if (platform::GetAttributes(path, attributes) && (attributes & platform::faReadOnly) != 0)
      (void)platform::SetAttributes(path, attributes & ~platform::faReadOnly); // delete tells
    return platform::DeleteFile(path) || !Exists(path);
  });
}

bool ReadAll(platform::TFile &file, std::uint8_t *buffer, std::uint32_t count) {
  std::uint32_t got = 0;
  return file.Read(buffer, count, got) && got == count;
}

bool WriteAll(platform::TFile &file, const std::uint8_t *buffer, std::uint32_t count) {
  std::uint32_t written = 0;
  return file.Write(buffer, count, written) && written == count;
}

// Writes the old record back only over the applied one: a record in any
// other state is not the one this journal knew.
bool RestoreRecord(const TPlacementJournal &journal) {
  // No record noted, or the file or the record is gone: nothing to restore.
  if (journal.AdminPath.empty() || !Exists(journal.AdminPath))
    return true;
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenShared(journal.AdminPath) || !file.Size(size))
    return false;
  std::array<std::uint8_t, admin::PackageRecordSize> stored{};
  if (size < journal.RecordOffset + static_cast<std::int64_t>(stored.size()))
    return true;
  if (!file.Seek(journal.RecordOffset) ||
      !ReadAll(file, stored.data(), static_cast<std::uint32_t>(stored.size())))
    return false;
  if (stored != journal.AppliedRecord)
    return true;
  return file.Seek(journal.RecordOffset) &&
         WriteAll(file, journal.OldRecord.data(),
                  static_cast<std::uint32_t>(journal.OldRecord.size()));
}

void RemoveLeftovers(TPlacementJournal &journal) {
  std::vector<std::string> stay;
  for (const std::string &path : journal.Leftovers)
    if (!RemoveFile(path))
      stay.push_back(path);
  journal.Leftovers = std::move(stay);
}

std::string TempPathOf(std::string_view journalPath) {
  const std::size_t cut = journalPath.find_last_of("\\/");
  std::string path(journalPath.substr(0, cut == std::string_view::npos ? 0 : cut + 1));
  return path + std::string(JournalTempName);
}

} // namespace

std::string JournalPathIn(std::string_view dataFolder) {
  std::string path(dataFolder);
  while (!path.empty() && path.back() == ' ')
    path.pop_back();
  if (!path.empty() && path.back() != '\\' && path.back() != ':')
    path += '\\';
  return path + std::string(JournalFileName);
}

void NoteRecord(TPlacementJournal &journal, std::string_view adminPath, std::int64_t offset,
                const admin::TPackageRecord &record, std::int32_t seed) {
  // A position that cannot be a record's leaves nothing to restore.
  journal.AdminPath = offset < static_cast<std::int64_t>(admin::AdminHeaderSize)
                          ? std::string()
                          : std::string(adminPath);
  journal.RecordOffset = offset;
  admin::TPackageRecord stored = record;
  admin::ScrambleBuffer(stored.Bytes, admin::PackageRecordSize, seed);
  std::memcpy(journal.OldRecord.data(), stored.Bytes, admin::PackageRecordSize);
  stored = record;
  admin::MarkApplied(stored);
  admin::ScrambleBuffer(stored.Bytes, admin::PackageRecordSize, seed);
  std::memcpy(journal.AppliedRecord.data(), stored.Bytes, admin::PackageRecordSize);
}

std::vector<std::uint8_t> EncodeJournal(const TPlacementJournal &journal) {
  // One buffer of the final size, header first and filled in last: the
  // journal of a package of many files is large, and a second copy or the
  // doubling of a growing buffer would be the run's peak of memory.
  std::size_t size = BodyOffset + 1 + 1 + 2 + journal.AdminPath.size() + 8 +
                     journal.OldRecord.size() + journal.AppliedRecord.size() + 4 + 4;
  for (const TPlacedFile &file : journal.Files)
    size += 2 + file.Destination.size() + 2 + file.Temp.size() + 2 + file.Backup.size() + 1;
  for (const std::string &path : journal.Leftovers)
    size += 2 + path.size();
  TWriter out;
  out.Bytes.reserve(size);
  out.Bytes.assign(std::begin(Magic), std::end(Magic));
  out.Bytes.resize(BodyOffset);
  out.Int(static_cast<std::uint8_t>(journal.State), 1);
  out.Int(journal.PackagesTaken ? 1 : 0, 1);
  out.Text(journal.AdminPath);
  out.Int(static_cast<std::uint64_t>(journal.RecordOffset), 8);
  out.Raw(journal.OldRecord);
  out.Raw(journal.AppliedRecord);
  out.Int(journal.Files.size(), 4);
  for (const TPlacedFile &file : journal.Files) {
    out.Text(file.Destination);
    out.Text(file.Temp);
    out.Text(file.Backup);
    out.Int(file.Existed ? 1 : 0, 1);
  }
  out.Int(journal.Leftovers.size(), 4);
  for (const std::string &path : journal.Leftovers)
    out.Text(path);

  const std::size_t bodyLength = out.Bytes.size() - BodyOffset;
  const std::uint32_t crc = Checksum(out.Bytes.data() + BodyOffset, bodyLength);
  util::PutU32(out.Bytes.data(), BodyLengthOffset, static_cast<std::uint32_t>(bodyLength));
  util::PutU32(out.Bytes.data(), CrcOffset, crc);
  return std::move(out.Bytes);
}

bool DecodeJournal(const std::vector<std::uint8_t> &bytes, TPlacementJournal &journal) {
  if (bytes.size() < BodyOffset || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
    return false;
  TReader head(bytes.data() + BodyLengthOffset, BodyOffset - BodyLengthOffset);
  const std::uint64_t length = head.Int(4);
  const std::uint64_t crc = head.Int(4);
  if (length != bytes.size() - BodyOffset ||
      crc != Checksum(bytes.data() + BodyOffset, bytes.size() - BodyOffset))
    return false;

  TReader in(bytes.data() + BodyOffset, bytes.size() - BodyOffset);
  TPlacementJournal read;
  read.Path = journal.Path;
  const std::uint64_t state = in.Int(1);
  if (state > static_cast<std::uint8_t>(TPlacementJournal::TState::Placing))
    return false;
  read.State = static_cast<TPlacementJournal::TState>(state);
  read.PackagesTaken = in.Int(1) != 0;
  read.AdminPath = in.Text();
  read.RecordOffset = static_cast<std::int64_t>(in.Int(8));
  in.Raw(read.OldRecord);
  in.Raw(read.AppliedRecord);
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n) {
    TPlacedFile file;
    file.Destination = in.Text();
    file.Temp = in.Text();
    file.Backup = in.Text();
    file.Existed = in.Int(1) != 0;
    read.Files.push_back(std::move(file));
  }
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n)
    read.Leftovers.push_back(in.Text());
  if (!in.Ok || !in.AtEnd())
    return false;
  journal = std::move(read);
  return true;
}

bool WriteJournal(const TPlacementJournal &journal) {
  const std::vector<std::uint8_t> bytes = EncodeJournal(journal);
  const std::string temp = TempPathOf(journal.Path);
  platform::TFile file;
  if (!file.Create(temp))
    return false;
  const bool written = WriteAll(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  file.Close();
  if (written && platform::MoveFileReplacing(temp, journal.Path))
    return true;
  RemoveFile(temp);
  return false;
}

bool RecoverPlacement(std::string_view path, TPlacementJournal &journal) {
  journal = TPlacementJournal();
  journal.Path = std::string(path);
  RemoveFile(TempPathOf(path));
  if (!Exists(path))
    return true;

  std::vector<std::uint8_t> bytes;
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenRead(path) || !file.Size(size))
    return false;
  if (size >= 0 && size <= MaxJournalSize) {
    bytes.resize(static_cast<std::size_t>(size));
    if (!ReadAll(file, bytes.data(), static_cast<std::uint32_t>(size)))
      return false;
  }
  file.Close();
  // A damaged journal names nothing that can be trusted; the rename that
  // writes a journal never leaves one half written.
  if (!DecodeJournal(bytes, journal)) {
    journal = TPlacementJournal();
    journal.Path = std::string(path);
    return RemoveFile(path);
  }
  if (journal.State == TPlacementJournal::TState::Placing && !RollBackPlacement(journal, true))
    return false;
  RemoveLeftovers(journal);
  return true;
}

bool RollBackPlacement(TPlacementJournal &journal, bool restoreRecord) {
  bool ok = true;
  // Backwards, so that two entries naming one file (in two spellings) end
  // with the oldest version.
  for (auto it = journal.Files.rbegin(); it != journal.Files.rend(); ++it) {
    ok = RemoveFile(it->Temp) && ok;
    if (!it->Existed) {
      ok = RemoveFile(it->Destination) && ok;
    } else if (Exists(it->Backup)) {
      ok = RemoveFile(it->Destination) &&
           Twice([&] { return platform::MoveFileReplacing(it->Backup, it->Destination); }) && ok;
    }
  }
  if (restoreRecord)
    ok = RestoreRecord(journal) && ok;
  if (ok) {
    journal.State = TPlacementJournal::TState::Idle;
    journal.Files.clear();
  }
  return ok;
}

bool CommitPlacement(TPlacementJournal &journal) {
  TPlacementJournal placed = journal;
  placed.State = TPlacementJournal::TState::Idle;
  placed.Files.clear();
  for (const TPlacedFile &file : journal.Files)
    if (file.Existed)
      placed.Leftovers.push_back(file.Backup);
  if (!WriteJournal(placed)) {
    // The commit has failed either way; what stays is left in the journal.
    (void)RollBackPlacement(journal, true);
    return false;
  }
  journal = std::move(placed);
  RemoveLeftovers(journal);
  return true;
}

void CloseJournal(TPlacementJournal &journal) {
  if (journal.State == TPlacementJournal::TState::Placing)
    return;
  RemoveLeftovers(journal);
  if (journal.Leftovers.empty()) {
    RemoveFile(journal.Path);
    return;
  }
  journal.PackagesTaken = false;
  // Leftovers are only clutter; an unwritten note is found again next start.
  (void)WriteJournal(journal);
}

} // namespace packages
