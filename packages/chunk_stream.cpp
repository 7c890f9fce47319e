// Streaming a package chunk by chunk through two fixed buffers, each batch's
// checksums computed on a second thread while the next batch is read.
#include "packages/chunk_stream.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "packages/package_format.h"
#include "util/byte_order.h"
#include "util/file_read.h"

namespace packages {

namespace {

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
    return FailReport(Report, TPackageFault::ArchiveWriteFailed, error);
  }

  platform::TFile *Archive;
  TPackageReport &Report;
  std::int64_t Written = 0; // bytes in the archive
  TPending Tail;            // the chunk whose end is not written yet
  std::int64_t TailLength = 0;
  const std::uint8_t *TailData = nullptr;
};

} // namespace

// The loop proper; `report` carries the running totals out. Two batches: the
// one being checked and written, and the next one being read.
bool StreamChunks(platform::TFile &package, platform::TFile *archive, TPackageReport &report) {
  TBatch batches[2];
  for (TBatch &batch : batches) {
    batch.Block.reset(new (std::nothrow) std::uint8_t[TBatch::BlockSize]);
    if (!batch.Block)
      return FailReport(report, TPackageFault::OutOfMemory);
  }
  TChunkReader reader(package);
  bool atEnd = false;
  if (!reader.AtEnd(atEnd))
    return FailReport(report, TPackageFault::ReadFailed);
  if (atEnd)
    return true;
  std::uint8_t header[PackageHeaderSize];
  std::uint32_t got = 0;
  if (!reader.ReadFileHeader(header, got))
    return FailReport(report, TPackageFault::ReadFailed);
  if (got != PackageHeaderSize)
    return FailReport(report, TPackageFault::HeaderMissing);
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
        return FailReport(report, fault, osError);
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

} // namespace packages
