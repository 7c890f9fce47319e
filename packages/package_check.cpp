// Package verification and writing. The checksum runs through zlib's CRC-32,
// whose register convention is the complement of ours; everything else is read
// and written field by field at the offsets of package_check.h.
#include "packages/package_check.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "util/byte_order.h"
#include "util/file_read.h"
#include "util/text.h"

namespace packages {

namespace {

static_assert(std::numeric_limits<uInt>::max() >=
                  static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max()),
              "one zlib call must take any non-negative int32 length");

std::int64_t WrappingAdd(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

// Header and chunk header share one shape: an int32 then an int64.
void EncodeHeader(std::uint8_t (&out)[PackageHeaderSize], std::int32_t length, std::int64_t crc) {
  util::PutI32(out, HeaderTotalLengthOffset, length);
  util::PutI64(out, HeaderCrcSumOffset, crc);
}

bool Fail(TPackageReport &report, TPackageFault fault, int osError) {
  report.Fault = fault;
  report.OsError = osError;
  return false;
}

bool Fail(TPackageReport &report, TPackageFault fault) {
  return Fail(report, fault, platform::LastError());
}

// Checksums a batch of chunks on a second thread while the calling thread
// reads the next batch and writes the previous one. Only computation leaves
// the calling thread: every file operation stays on it, in file order, so
// error slots and fault counting see the same sequence as a plain loop.
// Batches rather than single chunks: each hand-over costs two thread
// wake-ups, which took a fifth of the time with one chunk at a time. Without
// a thread (none could be started, or too few bytes to be worth the
// hand-over) the checksums are computed inline.
class TChecksumWorker {
public:
  struct TPiece {
    const std::uint8_t *Data = nullptr;
    std::int32_t Length = 0;
    std::int64_t Crc = 0;
  };

  TChecksumWorker() {
    try {
      Thread = std::thread([this] { Run(); });
    } catch (const std::system_error &) {
      // Inline checksums give the same results, only slower.
    }
  }
  ~TChecksumWorker() {
    if (!Thread.joinable())
      return;
    {
      std::unique_lock<std::mutex> lock(Lock);
      Changed.wait(lock, [this] { return !Pending; });
      Quit = true;
    }
    Changed.notify_all();
    Thread.join();
  }
  TChecksumWorker(const TChecksumWorker &) = delete;
  TChecksumWorker &operator=(const TChecksumWorker &) = delete;

  // The pieces and their data must stay untouched until Wait() has returned;
  // each piece's Crc is filled in.
  void Start(TPiece *pieces, int count) {
    constexpr std::int64_t InlineBelow = 16 * 1024;
    std::int64_t total = 0;
    for (int i = 0; i < count; ++i)
      total += pieces[i].Length;
    if (!Thread.joinable() || total < InlineBelow) {
      Compute(pieces, count);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(Lock);
      Pieces = pieces;
      Count = count;
      Pending = true;
    }
    Changed.notify_all();
  }

  void Wait() {
    if (!Thread.joinable())
      return;
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [this] { return !Pending; });
  }

private:
  static void Compute(TPiece *pieces, int count) {
    for (int i = 0; i < count; ++i)
      pieces[i].Crc = ChunkChecksum(pieces[i].Data, pieces[i].Length);
  }

  void Run() {
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
      Changed.wait(lock, [this] { return Pending || Quit; });
      if (!Pending)
        return;
      lock.unlock();
      Compute(Pieces, Count);
      lock.lock();
      Pending = false;
      Changed.notify_all();
    }
  }

  std::thread Thread;
  std::mutex Lock;
  std::condition_variable Changed;
  TPiece *Pieces = nullptr;
  int Count = 0;
  bool Pending = false;
  bool Quit = false;
};

// One chunk as read from the package, or why it could not be read. A fault is
// acted on only once the chunks before it are finished, as a plain loop would.
struct TChunkRead {
  bool AtEnd = false;
  TPackageFault Fault = TPackageFault::None;
  int OsError = 0;
  std::int64_t Expected = 0;
  std::int64_t Found = 0;
  std::int64_t Offset = 0;
  std::int32_t Length = 0;
  std::int64_t StoredCrc = 0;
};

TChunkRead ReadFault(TChunkRead chunk, TPackageFault fault, std::int64_t expected = 0,
                     std::int64_t found = 0) {
  chunk.Fault = fault;
  chunk.OsError = platform::LastError();
  chunk.Expected = expected;
  chunk.Found = found;
  return chunk;
}

// Reads the package front to back with one read call per chunk: a payload is
// read together with the header behind it, which is carried over to the next
// chunk. The end test compares the position reached with the file's size,
// asked again whenever the position gets there, as the file may still grow.
class TChunkReader {
public:
  explicit TChunkReader(platform::TFile &file) : File(file) {}

  bool AtEnd(bool &atEnd) {
    if (Position < Size) {
      atEnd = false;
      return true;
    }
    if (!File.Size(Size))
      return false;
    atEnd = Position >= Size;
    return true;
  }

  // The file header; `got` short of 12 when the file is.
  bool ReadFileHeader(std::uint8_t (&header)[PackageHeaderSize], std::uint32_t &got) {
    std::uint8_t both[PackageHeaderSize + ChunkHeaderSize];
    if (!util::ReadUpTo(File, both, sizeof both, got))
      return false;
    std::copy(both, both + std::min<std::uint32_t>(got, PackageHeaderSize), header);
    if (got > static_cast<std::uint32_t>(PackageHeaderSize))
      Keep(both + PackageHeaderSize, got - PackageHeaderSize);
    got = std::min<std::uint32_t>(got, PackageHeaderSize);
    Position = got;
    return true;
  }

  // The first chunk follows the file header with no end test in between, so
  // a package holds at least one chunk. `buffer` needs room for the longest
  // payload and a header.
  TChunkRead Next(std::uint8_t *buffer, bool first) {
    TChunkRead chunk;
    chunk.Offset = Position;
    bool atEnd = false;
    if (!first && !AtEnd(atEnd))
      return ReadFault(chunk, TPackageFault::ReadFailed);
    if (atEnd) {
      chunk.AtEnd = true;
      return chunk;
    }
    std::uint8_t header[ChunkHeaderSize];
    std::uint32_t got = Carried;
    std::copy(Carry, Carry + Carried, header);
    Carried = 0;
    std::uint32_t more = 0;
    if (got < static_cast<std::uint32_t>(ChunkHeaderSize) &&
        !util::ReadUpTo(File, header + got, ChunkHeaderSize - got, more))
      return ReadFault(chunk, TPackageFault::ReadFailed);
    got += more;
    Position += got;
    if (got != static_cast<std::uint32_t>(ChunkHeaderSize))
      return ReadFault(chunk, TPackageFault::ChunkHeaderCut, ChunkHeaderSize, got);
    chunk.Length = util::GetI32(header, ChunkLengthOffset);
    chunk.StoredCrc = util::GetI64(header, ChunkCrcOffset);
    if (chunk.Length < 0 || chunk.Length > MaxChunkLength)
      return ReadFault(chunk, TPackageFault::ChunkLengthBad, MaxChunkLength, chunk.Length);
    const auto length = static_cast<std::uint32_t>(chunk.Length);
    if (!util::ReadUpTo(File, buffer, length + ChunkHeaderSize, got))
      return ReadFault(chunk, TPackageFault::ReadFailed);
    if (got < length)
      return ReadFault(chunk, TPackageFault::ChunkPayloadCut, chunk.Length, got);
    Keep(buffer + length, got - length);
    Position += length;
    return chunk;
  }

  // The file's size as last asked (-1 before).
  std::int64_t KnownSize() const { return Size; }

private:
  void Keep(const std::uint8_t *bytes, std::uint32_t count) {
    std::copy(bytes, bytes + count, Carry);
    Carried = count;
  }

  platform::TFile &File;
  std::int64_t Position = 0; // where the next unread chunk starts
  std::int64_t Size = -1;
  std::uint8_t Carry[ChunkHeaderSize] = {};
  std::uint32_t Carried = 0;
};

// Chunks read, checksummed and written together; a batch ends early at the
// end of the file or at a chunk that could not be read.
constexpr int BatchChunks = 4;
// The archive is written up to boundaries of this many bytes where it can:
// the kernel then fills whole, aligned pages, which took a third less time
// than writes that end in the middle of a page (chunks are 65,000 bytes).
constexpr std::int64_t WriteAlign = 64 * 1024;

// A batch's payloads lie one after another in its block, behind room for the
// unwritten tail of the batch before, so that one write takes both.
struct TBatch {
  static constexpr std::size_t Lead = static_cast<std::size_t>(WriteAlign);
  static constexpr std::size_t BlockSize =
      Lead + static_cast<std::size_t>(BatchChunks) * MaxChunkLength + ChunkHeaderSize;
  std::unique_ptr<std::uint8_t[]> Block;
  TChunkRead Chunks[BatchChunks];
  TChecksumWorker::TPiece Pieces[BatchChunks];
  int Count = 0;     // chunks in Chunks, the last one perhaps at the end or faulty
  int Sound = 0;     // leading chunks with a payload to check
  bool Last = false; // ends at the end of the file or at a fault
  std::uint8_t *Payloads() { return Block.get() + Lead; }
};

void ReadBatch(TChunkReader &reader, TBatch &batch, bool first) {
  batch.Count = 0;
  batch.Sound = 0;
  batch.Last = false;
  std::uint8_t *buffer = batch.Payloads();
  while (batch.Count < BatchChunks && !batch.Last) {
    TChunkRead &chunk = batch.Chunks[batch.Count];
    // The header read behind a payload lands where the next payload goes;
    // the reader has kept it by then.
    chunk = reader.Next(buffer, first && batch.Count == 0);
    ++batch.Count;
    if (chunk.AtEnd || chunk.Fault != TPackageFault::None) {
      batch.Last = true;
      break;
    }
    batch.Pieces[batch.Sound++] = {buffer, chunk.Length, 0};
    buffer += chunk.Length;
  }
}

// Writes the checked payloads in file order, one write per chunk as before,
// but each write ends at the last alignment boundary inside its chunk; the
// rest (the "tail", always the end of one chunk) goes out with the next
// chunk's write, or alone when no chunk follows. A chunk counts as verified
// once all of it is in the archive, so the archive holds exactly the chunks
// that the report counts.
class TArchiveWriter {
public:
  TArchiveWriter(platform::TFile *archive, TPackageReport &report)
      : Archive(archive), Report(report) {}

  // `data` is the chunk's payload, with the tail right in front of it.
  bool Add(const TChunkRead &chunk, std::int64_t crc, const std::uint8_t *data, bool final) {
    const std::int64_t end = Written + TailLength + chunk.Length;
    std::int64_t upTo = end / WriteAlign * WriteAlign;
    // Nothing aligned to write (small chunks): all of it, as a plain loop.
    if (final || upTo <= Written || Archive == nullptr)
      upTo = end;
    if (chunk.Length > 0 || TailLength > 0) {
      if (!WriteOut(data - TailLength, upTo - Written, &chunk))
        return false;
    }
    Complete(Tail);
    Tail = {chunk.Offset, chunk.Length, crc};
    TailLength = end - Written;
    TailData = data + chunk.Length - TailLength;
    if (TailLength == 0)
      Complete(Tail);
    return true;
  }

  // Writes the tail on its own: before a fault is reported, or at the end.
  bool Flush() {
    if (TailLength > 0 && !WriteOut(TailData, TailLength, nullptr))
      return false;
    Complete(Tail);
    return true;
  }

  // Moves the tail in front of the next batch's payloads.
  void CarryTo(TBatch &next) {
    std::uint8_t *to = next.Payloads() - TailLength;
    if (TailLength > 0)
      std::copy(TailData, TailData + TailLength, to);
    TailData = to;
  }

private:
  struct TPending {
    std::int64_t Offset = 0;
    std::int32_t Length = -1; // -1: none
    std::int64_t Crc = 0;
  };

  void Complete(TPending &chunk) {
    if (chunk.Length < 0)
      return;
    Report.CrcRunningSum = WrappingAdd(Report.CrcRunningSum, chunk.Crc);
    Report.BytesVerified += chunk.Length;
    Report.ChunksVerified += 1;
    chunk = TPending();
    TailLength = 0;
  }

  // A failed or short write names the first chunk that is not whole in the
  // archive: the tail's, or else the new one (`added`).
  bool WriteOut(const std::uint8_t *from, std::int64_t count, const TChunkRead *added) {
    if (Archive == nullptr || count == 0) {
      Written += count;
      return true;
    }
    std::uint32_t written = 0;
    const bool ok = Archive->Write(from, static_cast<std::uint32_t>(count), written) &&
                    written == static_cast<std::uint32_t>(count);
    Written += written;
    if (ok)
      return true;
    const int error = platform::LastError();
    const std::int64_t tail = TailLength;
    if (written < tail || added == nullptr) {
      Report.Chunk = Report.ChunksVerified;
      Report.ChunkOffset = Tail.Offset;
      Report.Expected = Tail.Length;
      Report.Found = Tail.Length - tail + written;
    } else {
      Complete(Tail);
      Report.Chunk = Report.ChunksVerified;
      Report.ChunkOffset = added->Offset;
      Report.Expected = added->Length;
      Report.Found = written - tail;
    }
    return Fail(Report, TPackageFault::ArchiveWriteFailed, error);
  }

  platform::TFile *Archive;
  TPackageReport &Report;
  std::int64_t Written = 0; // bytes in the archive
  TPending Tail;            // the chunk whose end is not written yet
  std::int64_t TailLength = 0;
  const std::uint8_t *TailData = nullptr;
};

// The loop proper; `report` carries the running totals out. Two batches: the
// one being checked and written, and the next one being read.
bool StreamChunks(platform::TFile &package, platform::TFile *archive, TPackageReport &report) {
  TBatch batches[2];
  for (TBatch &batch : batches) {
    batch.Block.reset(new (std::nothrow) std::uint8_t[TBatch::BlockSize]);
    if (!batch.Block)
      return Fail(report, TPackageFault::OutOfMemory);
  }
  TChunkReader reader(package);
  bool atEnd = false;
  if (!reader.AtEnd(atEnd))
    return Fail(report, TPackageFault::ReadFailed);
  if (atEnd)
    return true;
  std::uint8_t header[PackageHeaderSize];
  std::uint32_t got = 0;
  if (!reader.ReadFileHeader(header, got))
    return Fail(report, TPackageFault::ReadFailed);
  if (got != PackageHeaderSize)
    return Fail(report, TPackageFault::HeaderMissing);
  report.TotalLength = util::GetI32(header, HeaderTotalLengthOffset);
  report.CrcSum = util::GetI64(header, HeaderCrcSumOffset);
  report.HeaderRead = true;
  // Room for the whole archive at once: block by block, the file system's
  // allocation took a fifth of the writing time. Never more than the package
  // holds, whatever its header claims; the archive's size stays as written.
  if (archive != nullptr && report.TotalLength > 0)
    (void)archive->Reserve(std::min<std::int64_t>(report.TotalLength, reader.KnownSize()));

  TChecksumWorker worker;
  TArchiveWriter writer(archive, report);
  int slot = 0;
  ReadBatch(reader, batches[slot], true);
  worker.Start(batches[slot].Pieces, batches[slot].Sound);
  for (;;) {
    TBatch &batch = batches[slot];
    TBatch &next = batches[1 - slot];
    if (!batch.Last)
      ReadBatch(reader, next, false);
    worker.Wait();
    if (!batch.Last)
      worker.Start(next.Pieces, next.Sound);
    // Where nothing sound follows, the last sound chunk is written whole.
    const bool endsHere =
        batch.Last || next.Chunks[0].AtEnd || next.Chunks[0].Fault != TPackageFault::None;
    for (int i = 0; i < batch.Count; ++i) {
      const TChunkRead &chunk = batch.Chunks[i];
      if (chunk.AtEnd)
        return writer.Flush();
      // The first bad chunk, once the sound ones before it are in the archive.
      auto badChunk = [&](TPackageFault fault, int osError, std::int64_t expected,
                          std::int64_t found) {
        if (!writer.Flush())
          return false;
        report.Chunk = report.ChunksVerified;
        report.ChunkOffset = chunk.Offset;
        report.Expected = expected;
        report.Found = found;
        return Fail(report, fault, osError);
      };
      if (chunk.Fault != TPackageFault::None)
        return badChunk(chunk.Fault, chunk.OsError, chunk.Expected, chunk.Found);
      const TChecksumWorker::TPiece &piece = batch.Pieces[i];
      if (piece.Crc != chunk.StoredCrc)
        return badChunk(TPackageFault::ChunkCrcMismatch, platform::ErrorSuccess, chunk.StoredCrc,
                        piece.Crc);
      if (!writer.Add(chunk, piece.Crc, piece.Data, endsHere && i + 1 == batch.Sound))
        return false;
    }
    // A batch ends early only at its last chunk, which returned above.
    if (batch.Last)
      return writer.Flush();
    writer.CarryTo(next);
    slot = 1 - slot;
  }
}

} // namespace

std::uint32_t UpdateCrc32(const void *buffer, std::int32_t length, std::uint32_t crc) {
  if (length <= 0)
    return crc;
  return ~static_cast<std::uint32_t>(
      ::crc32(~crc & 0xFFFFFFFFul, static_cast<const Bytef *>(buffer), static_cast<uInt>(length)));
}

std::int64_t ChunkChecksum(const void *buffer, std::int32_t length) {
  return static_cast<std::int32_t>(UpdateCrc32(buffer, length, Crc32Start));
}

bool VerifyPackageStream(std::string_view packagePath, std::string_view archivePath,
                         TPackageReport &report) {
  report = TPackageReport();
  platform::TFile package;
  if (!package.OpenShared(packagePath))
    return Fail(report, TPackageFault::PackageNotOpened);
  platform::TFile archive;
  if (!archivePath.empty() && !archive.Create(archivePath))
    return Fail(report, TPackageFault::ArchiveNotCreated);

  bool ok = StreamChunks(package, archivePath.empty() ? nullptr : &archive, report);
  if (ok) {
    report.Chunk = -1;
    report.ChunkOffset = -1;
    if (!report.HeaderRead) {
      ok = Fail(report, TPackageFault::HeaderMissing);
    } else if (report.BytesVerified != report.TotalLength) {
      report.Expected = report.TotalLength;
      report.Found = report.BytesVerified;
      ok = Fail(report, TPackageFault::TotalLengthMismatch);
    } else if (report.CrcRunningSum != report.CrcSum) {
      report.Expected = report.CrcSum;
      report.Found = report.CrcRunningSum;
      ok = Fail(report, TPackageFault::CrcSumMismatch);
    }
  }
  archive.Close();
  package.Close();
  return ok;
}

std::string ArchivePathOf(std::string_view packagePath) {
  // Only the file name's own extension: a "." in a folder name must not pull
  // the archive out of the package's folder.
  const std::size_t nameStart = platform::NameStart(packagePath, "\\/:");
  return std::string(packagePath.substr(0, nameStart)) +
         util::ChangeExtension(packagePath.substr(nameStart), "zip");
}

namespace {

bool VerifyBeside(std::string_view packagePath, TPackageReport &report) {
  report = TPackageReport();
  if (packagePath.size() > util::TShortString::Capacity)
    return Fail(report, TPackageFault::PathTooLong);
  std::string archivePath = ArchivePathOf(packagePath);
  // Short strings would cut a name that "zip" made longer than 255
  // characters; a name part that is empty gives no archive name at all.
  constexpr std::string_view suffix = ".zip";
  if (archivePath.size() > util::TShortString::Capacity || archivePath.size() < suffix.size() ||
      archivePath.compare(archivePath.size() - suffix.size(), suffix.size(), suffix) != 0)
    return Fail(report, TPackageFault::ArchiveNameTooLong);
  if (platform::SameAsciiCaseless(archivePath, packagePath))
    return Fail(report, TPackageFault::ArchiveIsPackage);
  // Whatever the name holds, the archive goes beside the package and nowhere
  // else, where it could land over a stranger's file.
  std::size_t folderEnd = platform::NameStart(packagePath, "\\/:");
  if (platform::NameStart(archivePath, "\\/:") != folderEnd ||
      archivePath.compare(0, folderEnd, packagePath.substr(0, folderEnd)) != 0)
    return Fail(report, TPackageFault::ArchiveNameTooLong);
  util::DeleteFileIfExists(archivePath);
  return VerifyPackageStream(packagePath, archivePath, report);
}

} // namespace

bool VerifyPackageDetailed(std::string_view packagePath, TPackageReport &report) {
  try {
    return VerifyBeside(packagePath, report);
  } catch (...) {
    return Fail(report, TPackageFault::OutOfMemory);
  }
}

bool CheckPackageFile(std::string_view packagePath) {
  TPackageReport report;
  return VerifyPackageDetailed(packagePath, report);
}

std::string DescribePackageReport(const TPackageReport &r) {
  auto num = [](std::int64_t v) { return std::to_string(v); };
  auto hex = [](std::int64_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 60; shift >= 0; shift -= 4)
      s += digits[(static_cast<std::uint64_t>(v) >> shift) & 0xF];
    return s;
  };
  std::string where;
  if (r.Chunk >= 0)
    where = "chunk " + num(r.Chunk) + " at offset " + num(r.ChunkOffset) + ": ";
  switch (r.Fault) {
  case TPackageFault::None:
    return "ok: " + num(r.ChunksVerified) + " chunks, " + num(r.BytesVerified) + " bytes, crcSum " +
           hex(r.CrcRunningSum);
  case TPackageFault::PathTooLong:
    return "package path longer than 255 characters";
  case TPackageFault::ArchiveIsPackage:
    return "package is named *.zip and would be its own archive";
  case TPackageFault::ArchiveNameTooLong:
    return "no archive name in the package's folder can be made from the package path";
  case TPackageFault::PackageNotOpened:
    return "package cannot be opened: " + platform::ErrorText(r.OsError);
  case TPackageFault::ArchiveNotCreated:
    return "archive cannot be created: " + platform::ErrorText(r.OsError);
  case TPackageFault::ReadFailed:
    return where + "read error: " + platform::ErrorText(r.OsError);
  case TPackageFault::HeaderMissing:
    return "file header missing: package shorter than 12 bytes";
  case TPackageFault::ChunkHeaderCut:
    return where + "chunk header cut short: " + num(r.Found) + " of 12 bytes";
  case TPackageFault::ChunkLengthBad:
    return where + "chunkLength " + num(r.Found) + " outside 0 to 65000";
  case TPackageFault::ChunkPayloadCut:
    return where + "payload cut short: " + num(r.Found) + " of " + num(r.Expected) + " bytes";
  case TPackageFault::ChunkCrcMismatch:
    return where + "chunkCrc " + hex(r.Expected) + " stored, " + hex(r.Found) + " computed";
  case TPackageFault::OutOfMemory:
    return "out of memory";
  case TPackageFault::ArchiveWriteFailed:
    return where + "archive write failed: " + num(r.Found) + " of " + num(r.Expected) +
           " bytes: " + platform::ErrorText(r.OsError);
  case TPackageFault::TotalLengthMismatch:
    return "totalLength " + num(r.Expected) + " in header, " + num(r.Found) + " bytes in " +
           num(r.ChunksVerified) + " chunks";
  case TPackageFault::CrcSumMismatch:
    return "crcSum " + hex(r.Expected) + " in header, " + hex(r.Found) + " summed over " +
           num(r.ChunksVerified) + " chunks";
  }
  return "unknown fault";
}

std::vector<std::uint8_t> BuildPackageBytes(const std::vector<std::uint8_t> &payload,
                                            std::int32_t chunkSize) {
  std::vector<std::uint8_t> out(PackageHeaderSize);
  if (chunkSize <= 0 || chunkSize > MaxChunkLength)
    return {};
  std::int64_t sum = 0;
  std::size_t pos = 0;
  do {
    auto length = static_cast<std::int32_t>(
        std::min<std::size_t>(payload.size() - pos, static_cast<std::size_t>(chunkSize)));
    std::int64_t crc = ChunkChecksum(payload.data() + pos, length);
    sum = WrappingAdd(sum, crc);
    std::uint8_t header[ChunkHeaderSize];
    EncodeHeader(header, length, crc);
    out.insert(out.end(), header, header + ChunkHeaderSize);
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(pos),
               payload.begin() + static_cast<std::ptrdiff_t>(pos) + length);
    pos += static_cast<std::size_t>(length);
  } while (pos < payload.size());
  std::uint8_t header[PackageHeaderSize];
  EncodeHeader(header, static_cast<std::int32_t>(payload.size()), sum);
  std::copy(header, header + PackageHeaderSize, out.begin());
  return out;
}

bool WritePackageFile(std::string_view zipPath, std::string_view packagePath,
                      std::int32_t chunkSize) {
  if (chunkSize <= 0 || chunkSize > MaxChunkLength)
    return false;
  platform::TFile zip, package;
  if (!zip.OpenRead(zipPath) || !package.Create(packagePath))
    return false;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[MaxChunkLength]);
  if (!buffer)
    return false;
  std::uint8_t header[PackageHeaderSize] = {};
  // The header is written last, once the totals are known.
  if (!package.WriteAll(header, PackageHeaderSize))
    return false;
  std::int64_t total = 0, sum = 0;
  bool first = true;
  for (;;) {
    std::uint32_t got = 0;
    if (!util::ReadUpTo(zip, buffer.get(), static_cast<std::uint32_t>(chunkSize), got))
      return false;
    if (got == 0 && !first)
      break;
    first = false;
    auto length = static_cast<std::int32_t>(got);
    std::int64_t crc = ChunkChecksum(buffer.get(), length);
    EncodeHeader(header, length, crc);
    if (!package.WriteAll(header, ChunkHeaderSize) ||
        (length > 0 && !package.WriteAll(buffer.get(), got)))
      return false;
    total += length;
    sum = WrappingAdd(sum, crc);
    if (total > std::numeric_limits<std::int32_t>::max())
      return false;
    if (got < static_cast<std::uint32_t>(chunkSize))
      break;
  }
  EncodeHeader(header, static_cast<std::int32_t>(total), sum);
  return package.Seek(0) && package.WriteAll(header, PackageHeaderSize);
}

} // namespace packages
