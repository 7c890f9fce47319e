// ZIP records field by field, in the order the format lays them out.
#include "tools/zip_records.h"

#include "util/byte_order.h"

namespace tools {

namespace {

constexpr std::uint16_t VersionNeeded = 20; // 2.0: deflate
constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t DataDescriptorSignature = 0x08074b50;
constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t EndSignature = 0x06054b50;

void AppendBytes(std::vector<std::uint8_t> &out, const std::string &name,
                 const std::vector<std::uint8_t> &extra) {
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), extra.begin(), extra.end());
}

} // namespace

void AppendLocalHeader(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  const bool descriptor = (h.Flags & dunzip::FlagDataDescriptor) != 0;
  util::AppendU32(out, LocalHeaderSignature);
  util::AppendU16(out, VersionNeeded);
  util::AppendU16(out, h.Flags);
  util::AppendU16(out, h.Method);
  util::AppendU32(out, h.DosDateTime);
  util::AppendU32(out, descriptor ? 0 : h.Crc);
  util::AppendU32(out, descriptor ? 0 : h.CompressedSize);
  util::AppendU32(out, descriptor ? 0 : h.UncompressedSize);
  util::AppendU16(out, static_cast<std::uint16_t>(h.Name.size()));
  util::AppendU16(out, static_cast<std::uint16_t>(h.Extra.size()));
  AppendBytes(out, h.Name, h.Extra);
}

void AppendDataDescriptor(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  util::AppendU32(out, DataDescriptorSignature);
  util::AppendU32(out, h.Crc);
  util::AppendU32(out, h.CompressedSize);
  util::AppendU32(out, h.UncompressedSize);
}

void AppendCentralHeader(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  util::AppendU32(out, CentralHeaderSignature);
  util::AppendU16(out, h.VersionMadeBy);
  util::AppendU16(out, VersionNeeded);
  util::AppendU16(out, h.Flags);
  util::AppendU16(out, h.Method);
  util::AppendU32(out, h.DosDateTime);
  util::AppendU32(out, h.Crc);
  util::AppendU32(out, h.CompressedSize);
  util::AppendU32(out, h.UncompressedSize);
  util::AppendU16(out, static_cast<std::uint16_t>(h.Name.size()));
  util::AppendU16(out, static_cast<std::uint16_t>(h.Extra.size()));
  util::AppendU16(out, 0); // comment
  util::AppendU16(out, 0); // disk
  util::AppendU16(out, 0); // internal attributes
  util::AppendU32(out, h.ExternalAttributes);
  util::AppendU32(out, h.LocalHeaderOffset);
  AppendBytes(out, h.Name, h.Extra);
}

void AppendEndRecord(std::vector<std::uint8_t> &out, std::uint16_t entries,
                     std::uint32_t directorySize, std::uint32_t directoryOffset) {
  util::AppendU32(out, EndSignature);
  util::AppendU16(out, 0); // disk
  util::AppendU16(out, 0); // disk of the directory
  util::AppendU16(out, entries);
  util::AppendU16(out, entries);
  util::AppendU32(out, directorySize);
  util::AppendU32(out, directoryOffset);
  util::AppendU16(out, 0); // comment
}

} // namespace tools
