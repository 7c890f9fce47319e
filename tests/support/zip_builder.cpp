// The tests' ZIP writer: local headers, data, optional data descriptors, the
// central directory and its end record, little-endian field by field.
#include "tests/support/zip_builder.h"

#include <zlib.h>

namespace testing_support {

namespace {

void Put16(std::vector<std::uint8_t> &out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t> &data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
  z.next_in = const_cast<Bytef *>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

} // namespace

std::uint32_t Crc32(const std::vector<std::uint8_t> &data) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
}

std::vector<std::uint8_t> BuildZip(const std::vector<TTestEntry> &entries) {
  std::vector<std::uint8_t> zip;
  std::vector<std::uint8_t> central;
  for (const TTestEntry &e : entries) {
    std::vector<std::uint8_t> stored = e.Method == 8 ? Deflate(e.Data) : e.Data;
    std::uint32_t crc = e.OverrideCrc ? e.Crc : Crc32(e.Data);
    std::uint32_t size =
        e.OverrideSize ? e.UncompressedSize : static_cast<std::uint32_t>(e.Data.size());
    auto compressed = static_cast<std::uint32_t>(stored.size());
    bool descriptor = (e.Flags & 0x0008) != 0;
    auto offset = static_cast<std::uint32_t>(e.CentralOffset >= 0 ? e.CentralOffset : zip.size());

    if (e.CentralOffset < 0) {
      Put32(zip, 0x04034b50);
      Put16(zip, 20);
      Put16(zip, e.Flags);
      Put16(zip, e.Method);
      Put32(zip, e.DosDateTime);
      Put32(zip, descriptor ? 0 : crc);
      Put32(zip, descriptor ? 0 : compressed);
      Put32(zip, descriptor ? 0 : size);
      Put16(zip, static_cast<std::uint32_t>(e.Name.size()));
      Put16(zip, static_cast<std::uint32_t>(e.Extra.size()));
      zip.insert(zip.end(), e.Name.begin(), e.Name.end());
      zip.insert(zip.end(), e.Extra.begin(), e.Extra.end());
      zip.insert(zip.end(), stored.begin(), stored.end());
      if (descriptor) {
        Put32(zip, 0x08074b50);
        Put32(zip, crc);
        Put32(zip, compressed);
        Put32(zip, size);
      }
    }

    Put32(central, 0x02014b50);
    Put16(central, e.VersionMadeBy);
    Put16(central, 20);
    Put16(central, e.Flags);
    Put16(central, e.Method);
    Put32(central, e.DosDateTime);
    Put32(central, crc);
    Put32(central, compressed);
    Put32(central, size);
    Put16(central, static_cast<std::uint32_t>(e.Name.size()));
    Put16(central, static_cast<std::uint32_t>(e.Extra.size()));
    Put16(central, 0); // comment
    Put16(central, 0); // disk
    Put16(central, 0); // internal attributes
    Put32(central, e.ExternalAttributes);
    Put32(central, offset);
    central.insert(central.end(), e.Name.begin(), e.Name.end());
    central.insert(central.end(), e.Extra.begin(), e.Extra.end());
  }
  auto cdOffset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  Put32(zip, 0x06054b50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, static_cast<std::uint32_t>(entries.size()));
  Put16(zip, static_cast<std::uint32_t>(entries.size()));
  Put32(zip, static_cast<std::uint32_t>(central.size()));
  Put32(zip, cdOffset);
  Put16(zip, 0);
  return zip;
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time =
      static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

} // namespace testing_support
