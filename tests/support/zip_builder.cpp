// The tests' ZIP writer: entries as given, every record written out here
// field by field in the order the format lays them out.
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

void Put16(std::vector<std::uint8_t> &out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(std::vector<std::uint8_t> &out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
void PutNameAndExtra(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  out.insert(out.end(), h.Name.begin(), h.Name.end());
  out.insert(out.end(), h.Extra.begin(), h.Extra.end());
}

constexpr std::uint16_t VersionNeeded = 20;
constexpr std::uint16_t DataDescriptorFlag = 0x0008;

// With a data descriptor the local header's CRC and sizes are 0.
void PutLocalHeader(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  const bool descriptor = (h.Flags & DataDescriptorFlag) != 0;
  Put32(out, 0x04034b50);
  Put16(out, VersionNeeded);
  Put16(out, h.Flags);
  Put16(out, h.Method);
  Put32(out, h.DosDateTime);
  Put32(out, descriptor ? 0 : h.Crc);
  Put32(out, descriptor ? 0 : h.CompressedSize);
  Put32(out, descriptor ? 0 : h.UncompressedSize);
  Put16(out, static_cast<std::uint32_t>(h.Name.size()));
  Put16(out, static_cast<std::uint32_t>(h.Extra.size()));
  PutNameAndExtra(out, h);
}

void PutDataDescriptor(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  Put32(out, 0x08074b50);
  Put32(out, h.Crc);
  Put32(out, h.CompressedSize);
  Put32(out, h.UncompressedSize);
}

void PutCentralHeader(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  Put32(out, 0x02014b50);
  Put16(out, h.VersionMadeBy);
  Put16(out, VersionNeeded);
  Put16(out, h.Flags);
  Put16(out, h.Method);
  Put32(out, h.DosDateTime);
  Put32(out, h.Crc);
  Put32(out, h.CompressedSize);
  Put32(out, h.UncompressedSize);
  Put16(out, static_cast<std::uint32_t>(h.Name.size()));
  Put16(out, static_cast<std::uint32_t>(h.Extra.size()));
  Put16(out, 0); // comment
  Put16(out, 0); // disk
  Put16(out, 0); // internal attributes
  Put32(out, h.ExternalAttributes);
  Put32(out, h.LocalHeaderOffset);
  PutNameAndExtra(out, h);
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
    TZipHeader h = e;
    if (!e.OverrideCrc)
      h.Crc = Crc32(e.Data);
    h.CompressedSize = static_cast<std::uint32_t>(stored.size());
    if (!e.OverrideSize)
      h.UncompressedSize = static_cast<std::uint32_t>(e.Data.size());
    h.LocalHeaderOffset =
        static_cast<std::uint32_t>(e.CentralOffset >= 0 ? e.CentralOffset : zip.size());
    if (e.CentralOffset < 0) {
      PutLocalHeader(zip, h);
      zip.insert(zip.end(), stored.begin(), stored.end());
      if (e.Flags & DataDescriptorFlag)
        PutDataDescriptor(zip, h);
    }
    PutCentralHeader(central, h);
  }
  auto cdOffset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  Put32(zip, 0x06054b50);
  Put16(zip, 0); // disk
  Put16(zip, 0); // disk of the directory
  Put16(zip, static_cast<std::uint32_t>(entries.size()));
  Put16(zip, static_cast<std::uint32_t>(entries.size()));
  Put32(zip, static_cast<std::uint32_t>(central.size()));
  Put32(zip, cdOffset);
  Put16(zip, 0); // comment
  return zip;
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time =
      static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

} // namespace testing_support
