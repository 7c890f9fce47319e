// ZIP writing with zlib's raw deflate, streamed: each local header is
// written first and its sizes and CRC-32 patched in once the data is out.
#include "tools/zip_writer.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "tools/tool_common.h"

namespace tools {

namespace {

constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::size_t LocalHeaderSize = 30;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t EndRecordSize = 22;
constexpr std::size_t LocalCrcOffset = 14;
constexpr std::uint16_t VersionNeeded = 20;
constexpr std::uint16_t MethodDeflated = 8;
constexpr std::uint32_t ChunkSize = 65536;
constexpr std::uint32_t MaxZipSize = 0x7FFFFFFF;

void Put16(std::string &out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string &out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

struct TWritten {
  std::string Name;
  std::uint32_t DosTime = 0, Crc = 0, Compressed = 0, Size = 0, Offset = 0;
};

bool WriteAll(platform::TFile &file, const std::string &bytes) {
  std::uint32_t written = 0;
  return bytes.empty() ||
         (file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) &&
          written == bytes.size());
}

std::string Describe(const char *what, const std::string &path) {
  return std::string(what) + " " + path + ": " + OsErrorText();
}

// Deflates one file into `zip` at its position; fills sizes and CRC-32.
bool DeflateFile(platform::TFile &zip, const std::string &path, TWritten &entry,
                 std::string &error) {
  platform::TFile in;
  if (!in.OpenRead(path)) {
    error = Describe("cannot open", path);
    return false;
  }
  (void)in.GetDosTime(entry.DosTime); // a file without a date is still packed
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
    z.next_in = reinterpret_cast<Bytef *>(input.data());
    z.avail_in = got;
    do {
      z.next_out = reinterpret_cast<Bytef *>(output.data());
      z.avail_out = ChunkSize;
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      const std::uint32_t have = ChunkSize - z.avail_out;
      compressed += have;
      if (!WriteAll(zip, output.substr(0, have))) {
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
  entry.Size = static_cast<std::uint32_t>(size);
  entry.Compressed = static_cast<std::uint32_t>(compressed);
  return ok;
}

bool WriteEntries(platform::TFile &zip, const std::vector<TZipSource> &files, std::string &error) {
  std::vector<TWritten> written;
  std::int64_t position = 0;
  for (const TZipSource &f : files) {
    TWritten e;
    e.Name = f.Name;
    e.Offset = static_cast<std::uint32_t>(position);
    std::string local;
    Put32(local, LocalHeaderSignature);
    Put16(local, VersionNeeded);
    Put16(local, 0);
    Put16(local, MethodDeflated);
    Put32(local, 0); // time and date, patched below
    Put32(local, 0);
    Put32(local, 0);
    Put32(local, 0);
    Put16(local, static_cast<std::uint16_t>(e.Name.size()));
    Put16(local, 0);
    local += e.Name;
    if (!WriteAll(zip, local) || !DeflateFile(zip, f.Path, e, error)) {
      if (error.empty())
        error = Describe("cannot write", "the archive");
      return false;
    }
    std::string patch;
    Put32(patch, e.DosTime);
    Put32(patch, e.Crc);
    Put32(patch, e.Compressed);
    Put32(patch, e.Size);
    std::int64_t end = 0;
    if (!zip.Position(end) || !zip.Seek(position + LocalCrcOffset - 4) || !WriteAll(zip, patch) ||
        !zip.Seek(end)) {
      error = Describe("cannot write", "the archive");
      return false;
    }
    position = end;
    written.push_back(e);
  }
  std::string central;
  for (const TWritten &e : written) {
    Put32(central, CentralHeaderSignature);
    Put16(central, VersionNeeded);
    Put16(central, VersionNeeded);
    Put16(central, 0);
    Put16(central, MethodDeflated);
    Put32(central, e.DosTime);
    Put32(central, e.Crc);
    Put32(central, e.Compressed);
    Put32(central, e.Size);
    Put16(central, static_cast<std::uint16_t>(e.Name.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0x20); // archive attribute
    Put32(central, e.Offset);
    central += e.Name;
  }
  std::string end;
  Put32(end, EndSignature);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<std::uint16_t>(written.size()));
  Put16(end, static_cast<std::uint16_t>(written.size()));
  Put32(end, static_cast<std::uint32_t>(central.size()));
  Put32(end, static_cast<std::uint32_t>(position));
  Put16(end, 0);
  if (position + static_cast<std::int64_t>(central.size()) > MaxZipSize ||
      written.size() > 0xFFFF) {
    error = "the archive would be too large for a package";
    return false;
  }
  if (!WriteAll(zip, central + end)) {
    error = Describe("cannot write", "the archive");
    return false;
  }
  return true;
}

} // namespace

bool WriteZip(const std::string &zipPath, const std::vector<TZipSource> &files,
              std::string &error) {
  static_assert(LocalHeaderSize == 30 && CentralHeaderSize == 46 && EndRecordSize == 22);
  platform::TFile zip;
  if (!zip.Create(zipPath)) {
    error = Describe("cannot create", zipPath);
    return false;
  }
  const bool ok = WriteEntries(zip, files, error);
  zip.Close();
  if (!ok) // half an archive goes if it can; the error is already set
    (void)platform::DeleteFile(zipPath);
  return ok;
}

} // namespace tools
