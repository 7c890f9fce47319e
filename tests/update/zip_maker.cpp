// The test ZIP writer: local headers, data, central directory and end record,
// field by field in little-endian; deflate through zlib's raw stream.
#include "tests/update/zip_maker.h"

#include <zlib.h>

namespace testing_support {

namespace {

constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t EndRecordSignature = 0x06054b50;
constexpr std::uint16_t VersionNeeded = 20;
constexpr std::uint16_t MethodStored = 0;
constexpr std::uint16_t MethodDeflated = 8;
constexpr std::uint32_t FolderAttribute = 0x10;

void Put16(std::vector<std::uint8_t> &out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::vector<std::uint8_t> RawDeflate(const std::vector<std::uint8_t> &data) {
  z_stream s{};
  deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<std::uint8_t> out(deflateBound(&s, static_cast<uLong>(data.size())) + 16);
  s.next_in = const_cast<Bytef *>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

} // namespace

std::vector<std::uint8_t> BuildZip(const std::vector<TZipItem> &items) {
  std::vector<std::uint8_t> out, central;
  for (const auto &item : items) {
    const bool folder = !item.Name.empty() && item.Name.back() == '/';
    const bool deflate = item.Deflate && !folder;
    const std::vector<std::uint8_t> stored = deflate ? RawDeflate(item.Data) : item.Data;
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0L, item.Data.data(), static_cast<uInt>(item.Data.size())));
    const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
    const std::uint16_t method = deflate ? MethodDeflated : MethodStored;

    Put32(out, LocalHeaderSignature);
    Put16(out, VersionNeeded);
    Put16(out, 0);
    Put16(out, method);
    Put32(out, item.DosTime);
    Put32(out, crc);
    Put32(out, static_cast<std::uint32_t>(stored.size()));
    Put32(out, static_cast<std::uint32_t>(item.Data.size()));
    Put16(out, static_cast<std::uint32_t>(item.Name.size()));
    Put16(out, 0);
    out.insert(out.end(), item.Name.begin(), item.Name.end());
    out.insert(out.end(), stored.begin(), stored.end());

    Put32(central, CentralHeaderSignature);
    Put16(central, VersionNeeded);
    Put16(central, VersionNeeded);
    Put16(central, 0);
    Put16(central, method);
    Put32(central, item.DosTime);
    Put32(central, crc);
    Put32(central, static_cast<std::uint32_t>(stored.size()));
    Put32(central, static_cast<std::uint32_t>(item.Data.size()));
    Put16(central, static_cast<std::uint32_t>(item.Name.size()));
    Put16(central, 0); // extra
    Put16(central, 0); // comment
    Put16(central, 0); // disk
    Put16(central, 0); // internal attributes
    Put32(central, folder ? FolderAttribute : 0);
    Put32(central, offset);
    central.insert(central.end(), item.Name.begin(), item.Name.end());
  }
  const std::uint32_t centralOffset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), central.begin(), central.end());
  Put32(out, EndRecordSignature);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint32_t>(items.size()));
  Put16(out, static_cast<std::uint32_t>(items.size()));
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time =
      static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

} // namespace testing_support
