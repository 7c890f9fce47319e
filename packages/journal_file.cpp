// Encoding, decoding and writing the placement journal.
#include "packages/journal_file.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "packages/package_check.h"
#include "platform/files.h"
#include "platform/path_parts.h"
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

std::uint32_t Checksum(const std::uint8_t *bytes, std::size_t count) {
  return ~UpdateCrc32(bytes, static_cast<std::int32_t>(count), Crc32Start);
}

// The body, encoded in pieces of at most WriterBlock bytes that `Put` takes
// away as they fill: the journal of a package of many files is large, and
// one buffer of it would be the run's peak of memory. A piece goes before
// what would not fit behind it, so the buffer never grows beyond the block,
// which holds the longest text.
constexpr std::size_t WriterBlock = 2 + 0xFFFF;

class TWriter {
public:
  template <typename TPut> explicit TWriter(TPut put) : Put(std::move(put)) {
    Bytes.reserve(WriterBlock);
  }
  void Int(std::uint64_t value, int size) {
    Room(static_cast<std::size_t>(size));
    util::AppendLE(Bytes, static_cast<std::size_t>(size), value);
  }
  // A text as a 16-bit length and its bytes. A longer one cannot be stored
  // whole: the journal is not written rather than name a wrong file.
  void Text(std::string_view first, std::string_view second = {}) {
    const std::size_t length = std::min<std::size_t>(first.size() + second.size(), 0xFFFF);
    Ok = Ok && length == first.size() + second.size();
    Room(2 + length);
    Int(length, 2);
    first = first.substr(0, length);
    second = second.substr(0, length - first.size());
    Bytes.insert(Bytes.end(), first.begin(), first.end());
    Bytes.insert(Bytes.end(), second.begin(), second.end());
  }
  void Path(const TPlacementJournal &journal, const TJournalPath &path) {
    Text(journal.Folders[path.Folder], journal.NameOf(path));
  }
  void Side(const TPlacementJournal &journal, const TPlacedFile &file, bool backup) {
    if (file.Sides == TSideNames::Spelled)
      Path(journal, journal.Spelled[file.Number + (backup ? 1 : 0)]);
    else
      Text(journal.Folders[file.Destination.Folder], SideName(file.Number, file.Sides, backup));
  }
  template <std::size_t N> void Raw(const std::array<std::uint8_t, N> &raw) {
    static_assert(N <= WriterBlock);
    Room(N);
    Bytes.insert(Bytes.end(), raw.begin(), raw.end());
  }
  // Hands over what is left; false when any piece was not taken.
  bool Finish() { return Flush() && Ok; }
  std::uint32_t Crc = Crc32Start;
  std::size_t Length = 0;

private:
  void Room(std::size_t count) {
    if (Bytes.size() + count > WriterBlock)
      Ok = Flush() && Ok;
  }
  bool Flush() {
    if (Bytes.empty())
      return true;
    Crc = UpdateCrc32(Bytes.data(), static_cast<std::int32_t>(Bytes.size()), Crc);
    Length += Bytes.size();
    // What the reader would refuse is not written at all.
    Ok = Ok && Length <= MaxJournalSize - BodyOffset;
    const bool taken = Ok && Put(Bytes.data(), Bytes.size());
    Bytes.clear();
    return taken;
  }
  std::vector<std::uint8_t> Bytes;
  std::function<bool(const std::uint8_t *, std::size_t)> Put;
  bool Ok = true;
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
  std::string_view Text() {
    const std::size_t length = static_cast<std::size_t>(Int(2));
    if (!Take(length))
      return {};
    return std::string_view(reinterpret_cast<const char *>(Bytes + At - length), length);
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

bool IsFolder(std::string_view path) {
  std::uint32_t attributes = 0;
  return platform::GetAttributes(path, attributes) && (attributes & platform::faDirectory) != 0;
}

} // namespace

bool PathExists(std::string_view path) {
  std::uint32_t attributes = 0;
  return !path.empty() && platform::GetAttributes(path, attributes);
}

bool RemoveOwnFile(std::string_view path) {
  return !PathExists(path) || IsFolder(path) || Twice([path] {
    std::uint32_t attributes = 0;
    if (platform::GetAttributes(path, attributes) && (attributes & platform::faReadOnly) != 0)
      (void)platform::SetAttributes(path, attributes & ~platform::faReadOnly); // delete tells
    if (platform::DeleteFile(path))
      return true;
    const platform::TKeepError keep; // the delete's error, not the look-up's
    return !PathExists(path);
  });
}

std::string BesideJournal(std::string_view journalPath, std::string_view name) {
  return std::string(platform::FolderPart(journalPath, "\\/")) + std::string(name);
}

std::string JournalTempPath(std::string_view journalPath) {
  return BesideJournal(journalPath, JournalTempName);
}

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
  journal.Record = admin::RecordUndoOf(adminPath, offset, record, seed);
}

namespace {

// The body of the journal, field by field, to `out`.
void EncodeBody(const TPlacementJournal &journal, TWriter &out) {
  out.Int(static_cast<std::uint8_t>(journal.State), 1);
  out.Int(journal.PackagesTaken ? 1 : 0, 1);
  out.Text(journal.Record.AdminPath);
  out.Int(static_cast<std::uint64_t>(journal.Record.Offset), 8);
  out.Raw(journal.Record.Before);
  out.Raw(journal.Record.After);
  out.Int(journal.Files.size(), 4);
  for (const TPlacedFile &file : journal.Files) {
    out.Path(journal, file.Destination);
    out.Side(journal, file, false);
    out.Side(journal, file, true);
    out.Int(file.Existed ? 1 : 0, 1);
  }
  out.Int(journal.Leftovers.size(), 4);
  for (const TJournalPath &path : journal.Leftovers)
    out.Path(journal, path);
  out.Int(journal.HeaderCrc, 4);
}

void PutHeader(std::uint8_t *header, const TWriter &body) {
  std::memcpy(header, Magic, sizeof Magic);
  util::PutU32(header, BodyLengthOffset, static_cast<std::uint32_t>(body.Length));
  util::PutU32(header, CrcOffset, ~body.Crc);
}

} // namespace

TJournalPath TPlacementJournal::AddPath(std::string_view path) {
  const std::string_view folder = platform::FolderPart(path, "\\/");
  const std::string_view name = platform::NamePart(path, "\\/");
  TJournalPath added;
  // Files come folder by folder: the most recent folder first.
  auto known = std::find(Folders.rbegin(), Folders.rend(), folder);
  if (known == Folders.rend()) {
    Folders.emplace_back(folder);
    known = Folders.rbegin();
  }
  added.Folder = static_cast<std::uint32_t>(Folders.rend() - known - 1);
  added.At = static_cast<std::uint32_t>(Names.size());
  added.Length = static_cast<std::uint32_t>(name.size());
  Names.append(name);
  return added;
}

void TPlacementJournal::AddFile(std::string_view destination, std::uint32_t number,
                                TSideNames sides, bool existed) {
  TPlacedFile file;
  file.Destination = AddPath(destination);
  file.Number = number;
  file.Sides = sides;
  file.Existed = existed;
  Files.push_back(file);
}

void TPlacementJournal::AddFile(std::string_view destination, std::string_view temp,
                                std::string_view backup, bool existed) {
  const std::string_view folder = platform::FolderPart(destination, "\\/");
  // The number as the temporary name spells it, taken only when both names
  // are exactly the numbered ones.
  if (temp.size() > folder.size() && temp.substr(0, folder.size()) == folder &&
      backup.substr(0, folder.size()) == folder) {
    const std::string_view name = temp.substr(folder.size());
    const std::size_t start = name.find_first_of("123456789");
    const std::size_t end = name.find_first_not_of("0123456789", start);
    const std::string_view digits =
        start == std::string_view::npos ? std::string_view() : name.substr(start, end - start);
    if (!digits.empty() && digits.size() <= 9) {
      const auto number = static_cast<std::uint32_t>(std::stoul(std::string(digits)));
      for (const TSideNames sides : {TSideNames::Long, TSideNames::Short}) {
        if (name == SideName(number, sides, false) &&
            backup.substr(folder.size()) == SideName(number, sides, true)) {
          AddFile(destination, number, sides, existed);
          return;
        }
      }
    }
  }
  TPlacedFile file;
  file.Destination = AddPath(destination);
  file.Number = static_cast<std::uint32_t>(Spelled.size());
  file.Sides = TSideNames::Spelled;
  file.Existed = existed;
  Spelled.push_back(AddPath(temp));
  Spelled.push_back(AddPath(backup));
  Files.push_back(file);
}

std::string SideName(std::uint32_t number, TSideNames sides, bool backup) {
  const std::string digits = std::to_string(number);
  if (sides == TSideNames::Short)
    return "~" + digits + (backup ? "b" : "");
  return "~zrk" + digits + (backup ? ".bak" : ".tmp");
}

std::string TPlacementJournal::TempOf(const TPlacedFile &file) const {
  if (file.Sides == TSideNames::Spelled)
    return PathOf(Spelled[file.Number]);
  return Folders[file.Destination.Folder] + SideName(file.Number, file.Sides, false);
}

std::string TPlacementJournal::BackupOf(const TPlacedFile &file) const {
  if (file.Sides == TSideNames::Spelled)
    return PathOf(Spelled[file.Number + 1]);
  return Folders[file.Destination.Folder] + SideName(file.Number, file.Sides, true);
}

std::string TPlacementJournal::PathOf(const TJournalPath &path) const {
  return Folders[path.Folder] + std::string(NameOf(path));
}

std::string_view TPlacementJournal::NameOf(const TJournalPath &path) const {
  return std::string_view(Names).substr(path.At, path.Length);
}

void TPlacementJournal::ClearFiles() {
  Files.clear();
  Spelled.clear();
  TPlacementJournal kept;
  for (const TJournalPath &path : Leftovers)
    kept.Leftovers.push_back(kept.AddPath(PathOf(path)));
  Leftovers = std::move(kept.Leftovers);
  Folders = std::move(kept.Folders);
  Names = std::move(kept.Names);
}

std::vector<std::uint8_t> EncodeJournal(const TPlacementJournal &journal) {
  std::vector<std::uint8_t> bytes(BodyOffset);
  TWriter body([&bytes](const std::uint8_t *piece, std::size_t count) {
    bytes.insert(bytes.end(), piece, piece + count);
    return true;
  });
  EncodeBody(journal, body);
  (void)body.Finish();
  PutHeader(bytes.data(), body);
  return bytes;
}

std::uint64_t JournalSize(const TPlacementJournal &journal) {
  std::uint64_t size = BodyOffset;
  TWriter body([&size](const std::uint8_t *, std::size_t count) {
    size += count;
    return true;
  });
  EncodeBody(journal, body);
  // Past the bound the writer stops counting; the answer is too large either way.
  return body.Finish() ? size : std::uint64_t{MaxJournalSize} + 1;
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
  if (state > static_cast<std::uint8_t>(TPlacementJournal::TState::Cleaning))
    return false;
  read.State = static_cast<TPlacementJournal::TState>(state);
  read.PackagesTaken = in.Int(1) != 0;
  read.Record.AdminPath = std::string(in.Text());
  read.Record.Offset = static_cast<std::int64_t>(in.Int(8));
  in.Raw(read.Record.Before);
  in.Raw(read.Record.After);
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n) {
    const std::string_view destination = in.Text();
    const std::string_view temp = in.Text();
    const std::string_view backup = in.Text();
    const bool existed = in.Int(1) != 0;
    if (in.Ok)
      read.AddFile(destination, temp, backup, existed);
  }
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n) {
    const std::string_view path = in.Text();
    if (in.Ok)
      read.Leftovers.push_back(read.AddPath(path));
  }
  read.HeaderCrc = static_cast<std::uint32_t>(in.Int(4));
  if (!in.Ok || !in.AtEnd())
    return false;
  journal = std::move(read);
  return true;
}

bool WriteJournal(const TPlacementJournal &journal) {
  if (journal.InMemory)
    return true;
  const std::string temp = JournalTempPath(journal.Path);
  (void)RemoveOwnFile(temp); // one left by a run that was ended while it wrote
  platform::TTempFile replacement;
  if (!replacement.CreateAs(journal.Path, temp))
    return false;
  platform::TFile &file = replacement.File();
  // The header, which needs the body's length and checksum, goes in last;
  // the rename below makes the whole file the journal only once it is complete.
  std::uint8_t header[BodyOffset] = {};
  TWriter body([&file](const std::uint8_t *piece, std::size_t count) {
    return file.WriteAll(piece, static_cast<std::uint32_t>(count));
  });
  bool written = file.WriteAll(header, BodyOffset);
  if (written) {
    EncodeBody(journal, body);
    written = body.Finish();
  }
  if (written) {
    PutHeader(header, body);
    written = file.Seek(0) && file.WriteAll(header, BodyOffset);
  }
  // Recovery depends on it: it is on the disk before the first file moves.
  return written && replacement.Commit({}, platform::TDurable::Now);
}

} // namespace packages
