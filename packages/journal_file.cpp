// Encoding, decoding and writing the placement journal and its folder parts.
#include "packages/journal_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <utility>

#include "admin/scramble.h"
#include "packages/package_format.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "util/byte_order.h"

namespace packages {

namespace {

// Layout of both kinds: magic @0, body length @4, CRC-32 of the body @8,
// body @12. Texts as a 16-bit length and bytes, numbers little-endian.
//
// The run's part ("ZRJ3"): state u8, packages taken u8, placement id u32,
// the record's package file name, its offset u64, its stored bytes before
// RewritePackage (294), the clean-up list (count u32; folder u8, name, size
// u64, DOS time u32 each), the header's CRC-32 u32.
//
// A folder part ("ZRP3"): files (count u32; name, id u32, number u32, side
// names u8, existed u8, new size u64 and CRC u32, old size u64 and CRC u32
// each), then leftovers (count u32; name, size u64, CRC u32 each). Names are
// bare: a part names files of its own folder only.
constexpr std::uint8_t MainMagic[4] = {'Z', 'R', 'J', '3'};
constexpr std::uint8_t PartMagic[4] = {'Z', 'R', 'P', '3'};
constexpr std::size_t BodyLengthOffset = 4;
constexpr std::size_t CrcOffset = 8;
constexpr std::size_t BodyOffset = JournalHeaderSize;
static_assert(CrcOffset == BodyLengthOffset + 4 && BodyOffset == CrcOffset + 4);
constexpr std::uint32_t MaxBodySize = MaxJournalSize - BodyOffset;

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
  void Text(std::string_view text) {
    const std::size_t length = std::min<std::size_t>(text.size(), 0xFFFF);
    Ok = Ok && length == text.size();
    Room(2 + length);
    Int(length, 2);
    Bytes.insert(Bytes.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  }
  void Proof(const TProof &proof) {
    Int(proof.Size, 8);
    Int(proof.Crc, 4);
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
    Ok = Ok && Length <= MaxBodySize;
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
  TProof Proof() {
    TProof proof;
    proof.Size = Int(8);
    proof.Crc = static_cast<std::uint32_t>(Int(4));
    return proof;
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

void EncodeMain(const TPlacementJournal &journal, TWriter &out) {
  out.Int(static_cast<std::uint8_t>(journal.State), 1);
  out.Int(journal.PackagesTaken ? 1 : 0, 1);
  out.Int(journal.Id, 4);
  out.Text(journal.Record.PackageName);
  out.Int(static_cast<std::uint64_t>(journal.Record.Offset), 8);
  out.Raw(journal.Record.Before);
  out.Int(journal.Cleaning.size(), 4);
  for (const TCleanFile &file : journal.Cleaning) {
    out.Int(static_cast<std::uint8_t>(file.Folder), 1);
    out.Text(file.Name);
    out.Int(file.Size, 8);
    out.Int(file.DosTime, 4);
  }
  out.Int(journal.HeaderCrc, 4);
}

void EncodePartBody(const TPlacementJournal &journal, std::uint32_t folder, TWriter &out) {
  std::size_t files = 0;
  for (const TPlacedFile &file : journal.Files)
    files += file.Destination.Folder == folder ? 1 : 0;
  out.Int(files, 4);
  for (const TPlacedFile &file : journal.Files) {
    if (file.Destination.Folder != folder)
      continue;
    out.Text(journal.NameOf(file.Destination));
    out.Int(file.Id, 4);
    out.Int(file.Number, 4);
    out.Int(static_cast<std::uint8_t>(file.Sides), 1);
    out.Int(file.Existed ? 1 : 0, 1);
    out.Proof(file.New);
    out.Proof(file.Old);
  }
  std::size_t leftovers = 0;
  for (const TLeftover &leftover : journal.Leftovers)
    leftovers += leftover.Path.Folder == folder ? 1 : 0;
  out.Int(leftovers, 4);
  for (const TLeftover &leftover : journal.Leftovers) {
    if (leftover.Path.Folder != folder)
      continue;
    out.Text(journal.NameOf(leftover.Path));
    out.Proof(leftover.Proof);
  }
}

void PutHeader(std::uint8_t *header, const std::uint8_t *magic, const TWriter &body) {
  std::memcpy(header, magic, 4);
  util::PutU32(header, BodyLengthOffset, static_cast<std::uint32_t>(body.Length));
  util::PutU32(header, CrcOffset, ~body.Crc);
}

using TEncode = std::function<void(TWriter &)>;

std::vector<std::uint8_t> Encode(const std::uint8_t *magic, const TEncode &encode) {
  std::vector<std::uint8_t> bytes(BodyOffset);
  TWriter body([&bytes](const std::uint8_t *piece, std::size_t count) {
    bytes.insert(bytes.end(), piece, piece + count);
    return true;
  });
  encode(body);
  (void)body.Finish();
  PutHeader(bytes.data(), magic, body);
  return bytes;
}

std::uint64_t SizeOf(const TEncode &encode) {
  std::uint64_t size = BodyOffset;
  TWriter body([&size](const std::uint8_t *, std::size_t count) {
    size += count;
    return true;
  });
  encode(body);
  // Past the bound the writer stops counting; the answer is too large either way.
  return body.Finish() ? size : std::uint64_t{MaxJournalSize} + 1;
}

// True when `bytes` are a whole journal of this kind. Their size is bounded
// where they are read, before they take memory.
bool OpenBody(const std::vector<std::uint8_t> &bytes, const std::uint8_t *magic) {
  if (bytes.size() < BodyOffset || std::memcmp(bytes.data(), magic, 4) != 0)
    return false;
  TReader head(bytes.data() + BodyLengthOffset, BodyOffset - BodyLengthOffset);
  const std::uint64_t length = head.Int(4);
  const std::uint64_t crc = head.Int(4);
  return length == bytes.size() - BodyOffset &&
         crc == Checksum(bytes.data() + BodyOffset, bytes.size() - BodyOffset);
}

// Writes `encode` to `path` through a temporary file renamed over it, durable
// when this returns.
bool WriteFile(const std::string &path, std::string_view tempName, const std::uint8_t *magic,
               const TEncode &encode) {
  const std::string temp = Beside(path, tempName);
  (void)RemoveOwnFile(temp); // one left by a run that was ended while it wrote
  platform::TTempFile replacement;
  if (!replacement.CreateAs(path, temp))
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
    encode(body);
    written = body.Finish();
  }
  if (written) {
    PutHeader(header, magic, body);
    written = file.Seek(0) && file.WriteAll(header, BodyOffset);
  }
  // Recovery depends on it: it is on the disk before the first file moves.
  return written && replacement.Commit({}, platform::TDurable::Now);
}

std::string Hex8(std::uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = digits[value & 0xF];
  return text;
}

bool IsHex8(std::string_view text) {
  return text.size() == 8 && text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

// Decimal digits without a leading zero, as SideName writes a number.
bool IsNumber(std::string_view text) {
  return !text.empty() && text.size() <= 10 && text[0] != '0' &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

bool PathExists(std::string_view path) {
  std::uint32_t attributes = 0;
  return !path.empty() && platform::GetAttributes(path, attributes);
}

bool IsFolder(std::string_view path) {
  std::uint32_t attributes = 0;
  return platform::GetAttributes(path, attributes) && (attributes & platform::faDirectory) != 0;
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

bool ProofOf(std::string_view path, TProof &proof) {
  platform::TFile file;
  if (!file.OpenRead(path))
    return false;
  proof = TProof();
  std::uint32_t crc = Crc32Start;
  std::vector<std::uint8_t> buffer(256 * 1024);
  for (;;) {
    std::uint32_t got = 0;
    if (!file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), got))
      return false;
    if (got == 0)
      break;
    crc = UpdateCrc32(buffer.data(), static_cast<std::int32_t>(got), crc);
    proof.Size += got;
  }
  proof.Crc = ~crc;
  return true;
}

TMatch Match(std::string_view path, const TProof &proof) {
  if (!PathExists(path))
    return TMatch::Absent;
  if (IsFolder(path))
    return TMatch::Differs;
  TProof found;
  if (!ProofOf(path, found))
    return TMatch::Unreadable;
  return found == proof ? TMatch::Holds : TMatch::Differs;
}

std::string Beside(std::string_view path, std::string_view name) {
  return std::string(platform::FolderPart(path, "\\/")) + std::string(name);
}

std::string JournalPathBeside(std::string_view adminPath) {
  return Beside(adminPath, JournalFileName);
}

std::string JournalPartIn(std::string_view folder) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/' && path.back() != ':')
    path += '\\';
  return path + std::string(JournalPartName);
}

std::string SideName(std::uint32_t id, std::uint32_t number, TSideNames sides, bool backup) {
  const std::string digits = std::to_string(number);
  if (sides == TSideNames::Short)
    return "~" + Hex8(id) + digits + (backup ? "b" : "");
  return "~zrk" + Hex8(id) + "_" + digits + (backup ? ".bak" : ".tmp");
}

bool IsBackupSideName(std::string_view name) {
  constexpr std::string_view longStart = "~zrk", longEnd = ".bak";
  if (name.size() > longStart.size() + 9 + longEnd.size() &&
      name.substr(0, longStart.size()) == longStart &&
      name.substr(name.size() - longEnd.size()) == longEnd) {
    const std::string_view rest =
        name.substr(longStart.size(), name.size() - longStart.size() - longEnd.size());
    return IsHex8(rest.substr(0, 8)) && rest[8] == '_' && IsNumber(rest.substr(9));
  }
  return name.size() > 10 && name[0] == '~' && name.back() == 'b' && IsHex8(name.substr(1, 8)) &&
         IsNumber(name.substr(9, name.size() - 10));
}

std::uint32_t NewPlacementId() {
  // Not a secret: it tells this placement's side files from any other's. The
  // clock is mixed in where the system's source gives little.
  std::uint32_t id = static_cast<std::uint32_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count() * 2654435761u);
  try {
    std::random_device source;
    id ^= source();
  } catch (...) {
  }
  return id;
}

void NoteRecord(TPlacementJournal &journal, std::int64_t offset,
                const admin::TPackageRecord &record, std::int32_t seed) {
  TRecordUndo undo;
  // A position that cannot be a record's leaves nothing to undo.
  if (offset >= static_cast<std::int64_t>(admin::AdminHeaderSize))
    undo.PackageName = record.PackageFileName().Str();
  undo.Offset = offset;
  admin::TPackageRecord stored = record;
  admin::ScrambleBuffer(stored.Bytes, static_cast<std::int32_t>(admin::PackageRecordSize), seed);
  std::memcpy(undo.Before.data(), stored.Bytes, admin::PackageRecordSize);
  journal.Record = undo;
}

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

void TPlacementJournal::AddFile(std::string_view destination, std::uint32_t id,
                                std::uint32_t number, TSideNames sides, bool existed, TProof placed,
                                TProof replaced) {
  TPlacedFile file;
  file.Destination = AddPath(destination);
  file.Id = id;
  file.Number = number;
  file.Sides = sides;
  file.Existed = existed;
  file.New = placed;
  file.Old = replaced;
  Files.push_back(file);
}

std::string TPlacementJournal::TempOf(const TPlacedFile &file) const {
  return Folders[file.Destination.Folder] + SideName(file.Id, file.Number, file.Sides, false);
}

std::string TPlacementJournal::BackupOf(const TPlacedFile &file) const {
  return Folders[file.Destination.Folder] + SideName(file.Id, file.Number, file.Sides, true);
}

std::string TPlacementJournal::PathOf(const TJournalPath &path) const {
  return Folders[path.Folder] + std::string(NameOf(path));
}

std::string_view TPlacementJournal::NameOf(const TJournalPath &path) const {
  return std::string_view(Names).substr(path.At, path.Length);
}

void TPlacementJournal::ClearFiles() {
  Files.clear();
  TPlacementJournal kept;
  kept.Folders = Folders; // a part's folder keeps its index while it has one
  for (const TLeftover &leftover : Leftovers)
    kept.Leftovers.push_back({kept.AddPath(PathOf(leftover.Path)), leftover.Proof});
  Leftovers = std::move(kept.Leftovers);
  Folders = std::move(kept.Folders);
  Names = std::move(kept.Names);
}

std::vector<std::uint8_t> EncodeJournal(const TPlacementJournal &journal) {
  return Encode(MainMagic, [&journal](TWriter &out) { EncodeMain(journal, out); });
}

std::vector<std::uint8_t> EncodePart(const TPlacementJournal &journal, std::uint32_t folder) {
  return Encode(PartMagic,
                [&journal, folder](TWriter &out) { EncodePartBody(journal, folder, out); });
}

std::uint64_t JournalSize(const TPlacementJournal &journal) {
  std::uint64_t size = SizeOf([&journal](TWriter &out) { EncodeMain(journal, out); });
  for (std::uint32_t f = 0; f < journal.Folders.size(); ++f)
    size = std::max(size, SizeOf([&journal, f](TWriter &out) { EncodePartBody(journal, f, out); }));
  return size;
}

bool DecodeJournal(const std::vector<std::uint8_t> &bytes, TPlacementJournal &journal) {
  if (!OpenBody(bytes, MainMagic))
    return false;
  TReader in(bytes.data() + BodyOffset, bytes.size() - BodyOffset);
  TPlacementJournal read;
  read.Path = journal.Path;
  const std::uint64_t state = in.Int(1);
  if (state > static_cast<std::uint8_t>(TPlacementJournal::TState::Cleaning))
    return false;
  read.State = static_cast<TPlacementJournal::TState>(state);
  read.PackagesTaken = in.Int(1) != 0;
  read.Id = static_cast<std::uint32_t>(in.Int(4));
  read.Record.PackageName = std::string(in.Text());
  read.Record.Offset = static_cast<std::int64_t>(in.Int(8));
  in.Raw(read.Record.Before);
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n) {
    TCleanFile file;
    const std::uint64_t folder = in.Int(1);
    file.Folder = folder == 0 ? TCleanFile::TFolder::Staging : TCleanFile::TFolder::Download;
    file.Name = std::string(in.Text());
    file.Size = in.Int(8);
    file.DosTime = static_cast<std::uint32_t>(in.Int(4));
    if (folder > 1)
      return false;
    if (in.Ok)
      read.Cleaning.push_back(std::move(file));
  }
  read.HeaderCrc = static_cast<std::uint32_t>(in.Int(4));
  if (!in.Ok || !in.AtEnd())
    return false;
  journal = std::move(read);
  return true;
}

bool DecodePart(const std::vector<std::uint8_t> &bytes, std::string_view folder,
                TPlacementJournal &journal) {
  if (!OpenBody(bytes, PartMagic))
    return false;
  TReader in(bytes.data() + BodyOffset, bytes.size() - BodyOffset);
  TPlacementJournal read;
  read.Folders.emplace_back(folder);
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n) {
    TPlacedFile file;
    const std::string_view name = in.Text();
    file.Id = static_cast<std::uint32_t>(in.Int(4));
    file.Number = static_cast<std::uint32_t>(in.Int(4));
    const std::uint64_t sides = in.Int(1);
    file.Existed = in.Int(1) != 0;
    file.New = in.Proof();
    file.Old = in.Proof();
    if (sides > static_cast<std::uint8_t>(TSideNames::Short))
      return false;
    if (!in.Ok)
      break;
    read.AddFile(std::string(folder) + std::string(name), file.Id, file.Number,
                 static_cast<TSideNames>(sides), file.Existed, file.New, file.Old);
  }
  for (std::uint64_t n = in.Int(4); in.Ok && n > 0; --n) {
    const std::string_view name = in.Text();
    const TProof proof = in.Proof();
    if (in.Ok)
      read.Leftovers.push_back({read.AddPath(std::string(folder) + std::string(name)), proof});
  }
  if (!in.Ok || !in.AtEnd())
    return false;
  read.PartFolders.emplace_back(folder);
  journal = std::move(read);
  return true;
}

bool WriteJournal(TPlacementJournal &journal) {
  if (journal.InMemory)
    return true;
  if (!WriteFile(journal.Path, JournalTempName, MainMagic,
                 [&journal](TWriter &out) { EncodeMain(journal, out); }))
    return false;
  std::vector<bool> needed(journal.Folders.size(), false);
  for (const TPlacedFile &file : journal.Files)
    needed[file.Destination.Folder] = true;
  for (const TLeftover &leftover : journal.Leftovers)
    needed[leftover.Path.Folder] = true;
  std::vector<std::string> written;
  for (std::uint32_t f = 0; f < journal.Folders.size(); ++f) {
    if (!needed[f])
      continue;
    if (!WriteFile(JournalPartIn(journal.Folders[f]), JournalPartTempName, PartMagic,
                   [&journal, f](TWriter &out) { EncodePartBody(journal, f, out); }))
      return false;
    written.push_back(journal.Folders[f]);
  }
  // A part that is no longer needed goes, durably: one that came back after
  // a power cut would be obeyed again.
  bool ok = true;
  for (const std::string &folder : journal.PartFolders) {
    if (std::find(written.begin(), written.end(), folder) != written.end())
      continue;
    if (!RemoveOwnFile(JournalPartIn(folder))) {
      ok = false;
      written.push_back(folder); // still there: a later write tries again
    } else {
      (void)platform::FlushFolder(folder);
    }
  }
  journal.PartFolders = std::move(written);
  return ok;
}

bool RemoveJournal(TPlacementJournal &journal) {
  bool ok = true;
  std::vector<std::string> stay;
  for (const std::string &folder : journal.PartFolders) {
    if (RemoveOwnFile(JournalPartIn(folder))) {
      (void)platform::FlushFolder(folder);
    } else {
      ok = false;
      stay.push_back(folder);
    }
  }
  journal.PartFolders = std::move(stay);
  return RemoveOwnFile(journal.Path) && ok;
}

} // namespace packages
