// ZIP writing with zlib's raw deflate, streamed: each local header is
// written first and written again with its sizes and CRC-32 once the data is
// out.
#include "tools/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "tools/codepage.h"
#include "tools/tool_common.h"
#include "tools/zip_records.h"

namespace tools {

namespace {

constexpr std::uint32_t ChunkSize = 65536;
constexpr std::uint32_t MaxZipSize = 0x7FFFFFFF;

// Nothing to write is no call at all.
bool WriteAll(platform::TFile &file, const void *bytes, std::size_t size) {
  return size == 0 || file.WriteAll(bytes, static_cast<std::uint32_t>(size));
}
bool WriteAll(platform::TFile &file, const std::vector<std::uint8_t> &bytes) {
  return WriteAll(file, bytes.data(), bytes.size());
}

// Made on NTFS, whose attributes these are: Info-ZIP's unzip 6.0 converts
// names of entries made on DOS from code page 437 even under flag bit 11.
constexpr std::uint16_t MadeOnNtfs = 0x0B14; // NTFS, 2.0

// A name beyond ASCII goes out in UTF-8 with flag bit 11: without the flag
// every reader takes the bytes for code page 437, where "ö" is "÷".
void SetName(TZipHeader &entry, const std::string &cp1252Name) {
  const bool ascii = std::all_of(cp1252Name.begin(), cp1252Name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  entry.Name = ascii ? cp1252Name : Cp1252ToUtf8(cp1252Name);
  if (!ascii)
    entry.Flags |= dunzip::FlagUtf8Name;
}

std::string Describe(const char *what, const std::string &path) {
  return std::string(what) + " " + path + ": " + OsErrorText();
}

using TProgressSink = std::function<void(std::uint64_t)>;

// Deflates one file into `zip` at its position; fills sizes and CRC-32 and
// adds what it read to `read`.
bool DeflateFile(platform::TFile &zip, const std::string &path, TZipHeader &entry,
                 std::string &error, std::uint64_t &read, const TProgressSink &progress) {
  platform::TFile in;
  if (!in.OpenRead(path)) {
    error = Describe("cannot open", path);
    return false;
  }
  (void)in.GetDosTime(entry.DosDateTime); // a file without a date is still packed
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    error = "zlib cannot start deflating";
    return false;
  }
  std::string input(ChunkSize, '\0'), output(ChunkSize, '\0');
  uLong crc = crc32(0, nullptr, 0);
  std::uint64_t size = 0, compressed = 0;
  bool ok = true, last = false;
  while (ok && !last) {
    std::uint32_t got = 0;
    if (!in.Read(input.data(), ChunkSize, got)) {
      error = Describe("cannot read", path);
      ok = false;
      break;
    }
    last = got == 0;
    crc = crc32(crc, reinterpret_cast<const Bytef *>(input.data()), got);
    size += got;
    read += got;
    if (progress)
      progress(read);
    z.next_in = reinterpret_cast<Bytef *>(input.data());
    z.avail_in = got;
    do {
      z.next_out = reinterpret_cast<Bytef *>(output.data());
      z.avail_out = ChunkSize;
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      const std::uint32_t have = ChunkSize - z.avail_out;
      compressed += have;
      if (!WriteAll(zip, output.data(), have)) {
        error = Describe("cannot write", "the archive");
        ok = false;
        break;
      }
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  if (ok && (size > MaxZipSize || compressed > MaxZipSize)) {
    error = path + " is too large for a package";
    ok = false;
  }
  entry.Crc = static_cast<std::uint32_t>(crc);
  entry.UncompressedSize = static_cast<std::uint32_t>(size);
  entry.CompressedSize = static_cast<std::uint32_t>(compressed);
  return ok;
}

bool WriteEntries(platform::TFile &zip, const std::vector<TZipSource> &files, std::string &error,
                  const TProgressSink &progress) {
  std::uint64_t read = 0;
  std::vector<std::uint8_t> central;
  std::int64_t position = 0;
  for (const TZipSource &f : files) {
    // The local header goes out first with CRC and sizes 0, and again once
    // the data is out.
    TZipHeader e;
    SetName(e, f.Name);
    e.VersionMadeBy = MadeOnNtfs;
    e.LocalHeaderOffset = static_cast<std::uint32_t>(position);
    std::vector<std::uint8_t> local;
    AppendLocalHeader(local, e);
    if (!WriteAll(zip, local) || !DeflateFile(zip, f.Path, e, error, read, progress)) {
      if (error.empty())
        error = Describe("cannot write", "the archive");
      return false;
    }
    local.clear();
    AppendLocalHeader(local, e);
    std::int64_t end = 0;
    if (!zip.Position(end) || !zip.Seek(position) || !WriteAll(zip, local) || !zip.Seek(end)) {
      error = Describe("cannot write", "the archive");
      return false;
    }
    position = end;
    AppendCentralHeader(central, e);
  }
  if (position + static_cast<std::int64_t>(central.size()) > MaxZipSize || files.size() > 0xFFFF) {
    error = "the archive would be too large for a package";
    return false;
  }
  AppendEndRecord(central, static_cast<std::uint16_t>(files.size()),
                  static_cast<std::uint32_t>(central.size()), static_cast<std::uint32_t>(position));
  if (!WriteAll(zip, central)) {
    error = Describe("cannot write", "the archive");
    return false;
  }
  return true;
}

} // namespace

bool WriteZip(const std::string &zipPath, const std::vector<TZipSource> &files, std::string &error,
              const TProgressSink &progress) {
  platform::TFile zip;
  if (!zip.Create(zipPath)) {
    error = Describe("cannot create", zipPath);
    return false;
  }
  const bool ok = WriteEntries(zip, files, error, progress);
  zip.Close();
  if (!ok) // half an archive goes if it can; the error is already set
    (void)platform::DeleteFile(zipPath);
  return ok;
}

} // namespace tools
