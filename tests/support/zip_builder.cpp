// The tests' ZIP writer: entries as given, laid out by the records that
// update build's package writer uses too.
#include "tests/support/zip_builder.h"

#include <zlib.h>

namespace testing_support {

namespace {

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
    tools::TZipHeader h = e;
    if (!e.OverrideCrc)
      h.Crc = Crc32(e.Data);
    h.CompressedSize = static_cast<std::uint32_t>(stored.size());
    if (!e.OverrideSize)
      h.UncompressedSize = static_cast<std::uint32_t>(e.Data.size());
    h.LocalHeaderOffset =
        static_cast<std::uint32_t>(e.CentralOffset >= 0 ? e.CentralOffset : zip.size());
    if (e.CentralOffset < 0) {
      tools::AppendLocalHeader(zip, h);
      zip.insert(zip.end(), stored.begin(), stored.end());
      if (e.Flags & dunzip::FlagDataDescriptor)
        tools::AppendDataDescriptor(zip, h);
    }
    tools::AppendCentralHeader(central, h);
  }
  auto cdOffset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  tools::AppendEndRecord(zip, static_cast<std::uint16_t>(entries.size()),
                         static_cast<std::uint32_t>(central.size()), cdOffset);
  return zip;
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time =
      static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

} // namespace testing_support
