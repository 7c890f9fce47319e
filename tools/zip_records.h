// The records of a ZIP archive as bytes: local header, data descriptor,
// central header and end record, for update build's package writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dunzip/zip_reader.h"

namespace tools {

// What a local and a central header say of one entry.
struct TZipHeader {
  std::string Name; // raw name bytes
  std::vector<std::uint8_t> Extra;
  std::uint16_t VersionMadeBy = 0x0014; // DOS, 2.0
  std::uint16_t Flags = 0;
  std::uint16_t Method = dunzip::MethodDeflated;
  std::uint32_t DosDateTime = 0; // date in the high word
  std::uint32_t Crc = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint32_t ExternalAttributes = 0x20; // archive
  std::uint32_t LocalHeaderOffset = 0;     // central header only
};

// With the data-descriptor flag the local header's CRC and sizes are 0; the
// descriptor behind the data carries them.
void AppendLocalHeader(std::vector<std::uint8_t> &out, const TZipHeader &header);
void AppendDataDescriptor(std::vector<std::uint8_t> &out, const TZipHeader &header);
void AppendCentralHeader(std::vector<std::uint8_t> &out, const TZipHeader &header);
void AppendEndRecord(std::vector<std::uint8_t> &out, std::uint16_t entries,
                     std::uint32_t directorySize, std::uint32_t directoryOffset);

} // namespace tools
