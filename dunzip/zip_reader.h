// Reading ZIP archives: the central directory (ZIP64 included) and the data of
// one entry at a time, stored or deflated, streamed from a byte source into a
// byte sink with every size, CRC-32 and local header checked. Knows nothing of
// files, so it runs the same over memory (tests) as over an archive file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dunzip {

class TByteSource {
public:
  virtual ~TByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // False unless all `count` bytes could be read.
  virtual bool ReadAt(std::uint64_t offset, void *buffer, std::size_t count) = 0;
};

class TMemorySource : public TByteSource {
public:
  TMemorySource(const std::uint8_t *data, std::size_t size) : Data(data), Length(size) {}
  std::uint64_t Size() const override { return Length; }
  bool ReadAt(std::uint64_t offset, void *buffer, std::size_t count) override;

private:
  const std::uint8_t *Data;
  std::size_t Length;
};

class TByteSink {
public:
  virtual ~TByteSink() = default;
  // False stops the extraction (write error, cancel); the sink keeps the reason.
  virtual bool Write(const std::uint8_t *data, std::size_t count) = 0;
};

enum class TZipError {
  None,
  Read,        // the source could not be read
  BadArchive,  // truncated, inconsistent or not a ZIP archive
  Crc,         // data does not match the entry's CRC-32 or declared size
  Unsupported, // encrypted entry, unsupported method, multi-disk archive
  SinkFailed,  // the sink refused the data
};

// Host systems in the high byte of "version made by" whose external
// attributes hold DOS attribute bits.
constexpr std::uint8_t HostDos = 0;
constexpr std::uint8_t HostUnix = 3;
constexpr std::uint8_t HostNtfs = 11;
constexpr std::uint8_t HostVfat = 14;
constexpr std::uint8_t HostMacOsX = 19;

constexpr std::uint16_t MethodStored = 0;
constexpr std::uint16_t MethodDeflated = 8;
constexpr std::uint16_t FlagEncrypted = 0x0001;
constexpr std::uint16_t FlagDataDescriptor = 0x0008;
constexpr std::uint16_t FlagStrongEncryption = 0x0040;
constexpr std::uint16_t FlagUtf8Name = 0x0800;

struct TZipEntry {
  std::string RawName; // bytes as stored
  // From Info-ZIP's Unicode path extra field, when present and matching RawName.
  std::string UnicodeName;
  bool HasUnicodeName = false;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t Flags = 0;
  std::uint16_t Method = 0;
  std::uint16_t DosTime = 0;
  std::uint16_t DosDate = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t ExternalAttributes = 0;
  std::uint64_t CompressedSize = 0;
  std::uint64_t UncompressedSize = 0;
  std::uint64_t LocalHeaderOffset = 0;

  bool MadeOnDos() const;
  // Made on Unix or macOS, where names without the UTF-8 flag are mostly UTF-8.
  bool MadeOnUnix() const;
  // DOS attribute bits when MadeOnDos(), else 0.
  std::uint32_t DosAttributes() const;
  bool IsFolder() const;
  // Date in the high word, time in the low word.
  std::uint32_t DosDateTime() const { return (std::uint32_t(DosDate) << 16) | DosTime; }
  bool IsEncrypted() const { return (Flags & (FlagEncrypted | FlagStrongEncryption)) != 0; }
  bool MethodSupported() const { return Method == MethodStored || Method == MethodDeflated; }
};

class TInflateWorker;

class TZipReader {
public:
  explicit TZipReader(TByteSource &source);
  ~TZipReader();
  TZipReader(const TZipReader &) = delete;
  TZipReader &operator=(const TZipReader &) = delete;

  // Reads the central directory and checks the archive's layout: every
  // entry's local header agrees with the central directory, and no two
  // entries' bytes overlap each other or the central directory. Keeps only a
  // small fixed record per entry; the entries themselves are read again from
  // the directory by ReadEntry, so memory does not grow with their names.
  TZipError Open();
  std::size_t EntryCount() const { return Slots.size(); }
  // Entry `index` (directory order) of an opened archive.
  TZipError ReadEntry(std::size_t index, TZipEntry &entry);
  // Open, then every entry at once (tools and tests).
  TZipError ReadCentralDirectory(std::vector<TZipEntry> &entries);
  // Streams the entry's data into `sink`; checks the local header against the
  // central directory, never produces more than the declared size, and checks
  // size, CRC-32 and a data descriptor when the entry has one.
  // Open must have succeeded first.
  TZipError ExtractEntry(const TZipEntry &entry, TByteSink &sink);

private:
  // Where an entry's central header starts, and where its bytes begin in the
  // archive (the order of the layout check).
  struct TSlot {
    std::uint64_t CentralOffset;
    std::uint64_t LocalHeaderOffset;
  };
  TZipError ParseCentralHeader(std::uint64_t offset, TZipEntry &entry, std::uint64_t &next);
  // Points `data` at `count` bytes of the central directory from `offset`,
  // read through a window so that walking the directory costs few reads.
  TZipError DirectoryBytes(std::uint64_t offset, std::size_t count, const std::uint8_t *&data);
  TZipError CheckLayout();
  TZipError CheckLocalHeader(const TZipEntry &entry, std::uint64_t &dataOffset);
  TZipError CheckDataDescriptor(const TZipEntry &entry, std::uint64_t offset);
  TZipError CopyStored(const TZipEntry &entry, std::uint64_t offset, TByteSink &sink);
  TZipError Inflate(const TZipEntry &entry, std::uint64_t offset, TByteSink &sink);
  // The worker for an entry large enough to be worth it, started at the
  // first one; null otherwise.
  TInflateWorker *WorkerFor(const TZipEntry &entry);
  void MakeBuffers();

  TByteSource &Source;
  // Entry data must end before this offset (the start of the central directory).
  std::uint64_t DataLimit = 0;
  std::uint64_t DirectoryEnd = 0;
  std::vector<TSlot> Slots;
  std::vector<std::uint8_t> Window;
  std::uint64_t WindowStart = 0;
  std::size_t WindowLength = 0;
  // The input and output buffers of the entries read here: Buffers, or the
  // worker's once there is one.
  std::vector<std::uint8_t> Buffers;
  std::uint8_t *InData = nullptr;
  std::uint8_t *OutData = nullptr;
  std::unique_ptr<TInflateWorker> Worker;
  bool WorkerTried = false;
};

// The size of the central directory window.
constexpr std::size_t DirectoryWindowSize = 64 * 1024;

// The size of the input and output buffers of ExtractEntry.
constexpr std::size_t ZipBufferSize = 128 * 1024;

} // namespace dunzip
