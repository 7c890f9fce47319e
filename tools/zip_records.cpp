// ZIP records field by field, each at its offset of the format's layout.
#include "tools/zip_records.h"

#include "dunzip/zip_layout.h"
#include "util/byte_order.h"

namespace tools {

namespace {

using util::PutU16;
using util::PutU32;

constexpr std::uint16_t VersionNeeded = 20; // 2.0: deflate

// Room for a record's fixed part at the end of `out`; its start.
std::uint8_t *AppendRecord(std::vector<std::uint8_t> &out, std::size_t fixedSize,
                           std::uint32_t signature) {
  out.resize(out.size() + fixedSize);
  std::uint8_t *record = out.data() + out.size() - fixedSize;
  PutU32(record, 0, signature);
  return record;
}

void AppendBytes(std::vector<std::uint8_t> &out, const std::string &name,
                 const std::vector<std::uint8_t> &extra) {
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), extra.begin(), extra.end());
}

} // namespace

void AppendLocalHeader(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  namespace at = dunzip::local_header;
  const bool descriptor = (h.Flags & dunzip::FlagDataDescriptor) != 0;
  std::uint8_t *r = AppendRecord(out, at::FixedSize, at::Signature);
  PutU16(r, at::VersionNeeded, VersionNeeded);
  PutU16(r, at::Flags, h.Flags);
  PutU16(r, at::Method, h.Method);
  PutU32(r, at::DosTime, h.DosDateTime); // the date is the high word
  PutU32(r, at::Crc32, descriptor ? 0 : h.Crc);
  PutU32(r, at::CompressedSize, descriptor ? 0 : h.CompressedSize);
  PutU32(r, at::UncompressedSize, descriptor ? 0 : h.UncompressedSize);
  PutU16(r, at::NameLength, static_cast<std::uint16_t>(h.Name.size()));
  PutU16(r, at::ExtraLength, static_cast<std::uint16_t>(h.Extra.size()));
  AppendBytes(out, h.Name, h.Extra);
}

void AppendDataDescriptor(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  namespace at = dunzip::data_descriptor;
  std::uint8_t *r = AppendRecord(out, at::SignatureSize + at::Size32, at::Signature);
  PutU32(r, at::SignatureSize + at::Crc32, h.Crc);
  PutU32(r, at::SignatureSize + at::CompressedSize, h.CompressedSize);
  PutU32(r, at::SignatureSize + at::UncompressedSize32, h.UncompressedSize);
}

// The comment, the disk and the internal attributes stay 0.
void AppendCentralHeader(std::vector<std::uint8_t> &out, const TZipHeader &h) {
  namespace at = dunzip::central_header;
  std::uint8_t *r = AppendRecord(out, at::FixedSize, at::Signature);
  PutU16(r, at::VersionMadeBy, h.VersionMadeBy);
  PutU16(r, at::VersionNeeded, VersionNeeded);
  PutU16(r, at::Flags, h.Flags);
  PutU16(r, at::Method, h.Method);
  PutU32(r, at::DosTime, h.DosDateTime);
  PutU32(r, at::Crc32, h.Crc);
  PutU32(r, at::CompressedSize, h.CompressedSize);
  PutU32(r, at::UncompressedSize, h.UncompressedSize);
  PutU16(r, at::NameLength, static_cast<std::uint16_t>(h.Name.size()));
  PutU16(r, at::ExtraLength, static_cast<std::uint16_t>(h.Extra.size()));
  PutU32(r, at::ExternalAttributes, h.ExternalAttributes);
  PutU32(r, at::LocalHeaderOffset, h.LocalHeaderOffset);
  AppendBytes(out, h.Name, h.Extra);
}

// One disk; the comment stays empty.
void AppendEndRecord(std::vector<std::uint8_t> &out, std::uint16_t entries,
                     std::uint32_t directorySize, std::uint32_t directoryOffset) {
  namespace at = dunzip::end_record;
  std::uint8_t *r = AppendRecord(out, at::FixedSize, at::Signature);
  PutU16(r, at::EntriesOnDisk, entries);
  PutU16(r, at::TotalEntries, entries);
  PutU32(r, at::DirectorySize, directorySize);
  PutU32(r, at::DirectoryOffset, directoryOffset);
}

} // namespace tools
