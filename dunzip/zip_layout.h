// The records of the ZIP format as bytes: each record's signature, the
// offsets of its fields (little-endian, at fixed places) and the size of its
// fixed part. The unzip library reads these records and zrktool writes them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dunzip {

namespace local_header {
constexpr std::uint32_t Signature = 0x04034b50;
constexpr std::size_t VersionNeeded = 4, Flags = 6, Method = 8, DosTime = 10, DosDate = 12,
                      Crc32 = 14, CompressedSize = 18, UncompressedSize = 22, NameLength = 26,
                      ExtraLength = 28;
constexpr std::size_t FixedSize = 30;
static_assert(ExtraLength + 2 == FixedSize && NameLength + 2 == ExtraLength);
} // namespace local_header

namespace central_header {
constexpr std::uint32_t Signature = 0x02014b50;
constexpr std::size_t VersionMadeBy = 4, VersionNeeded = 6, Flags = 8, Method = 10, DosTime = 12,
                      DosDate = 14, Crc32 = 16, CompressedSize = 20, UncompressedSize = 24,
                      NameLength = 28, ExtraLength = 30, CommentLength = 32, StartDisk = 34,
                      InternalAttributes = 36, ExternalAttributes = 38, LocalHeaderOffset = 42;
constexpr std::size_t FixedSize = 46;
static_assert(LocalHeaderOffset + 4 == FixedSize && ExternalAttributes + 4 == LocalHeaderOffset);
} // namespace central_header

namespace end_record {
constexpr std::uint32_t Signature = 0x06054b50;
constexpr std::size_t Disk = 4, DirectoryDisk = 6, EntriesOnDisk = 8, TotalEntries = 10,
                      DirectorySize = 12, DirectoryOffset = 16, CommentLength = 20;
constexpr std::size_t FixedSize = 22;
constexpr std::size_t MaxCommentSize = 0xFFFF;
static_assert(CommentLength + 2 == FixedSize && DirectoryOffset + 4 == CommentLength);
} // namespace end_record

namespace zip64_locator {
constexpr std::uint32_t Signature = 0x07064b50;
constexpr std::size_t EndRecordDisk = 4, EndRecordOffset = 8, TotalDisks = 16;
constexpr std::size_t FixedSize = 20;
static_assert(TotalDisks + 4 == FixedSize && EndRecordOffset + 8 == TotalDisks);
} // namespace zip64_locator

namespace zip64_end_record {
constexpr std::uint32_t Signature = 0x06064b50;
constexpr std::size_t Disk = 16, DirectoryDisk = 20, EntriesOnDisk = 24, TotalEntries = 32,
                      DirectorySize = 40, DirectoryOffset = 48;
constexpr std::size_t FixedSize = 56;
static_assert(DirectoryOffset + 8 == FixedSize && DirectorySize + 8 == DirectoryOffset);
} // namespace zip64_end_record

// Signature (optional), CRC-32, then both sizes in 4 or (ZIP64) 8 bytes each.
namespace data_descriptor {
constexpr std::uint32_t Signature = 0x08074b50;
constexpr std::size_t SignatureSize = 4;
constexpr std::size_t Crc32 = 0, CompressedSize = 4, UncompressedSize32 = 8,
                      UncompressedSize64 = 12;
constexpr std::size_t Size32 = 12, Size64 = 20, MaxSize = SignatureSize + Size64;
static_assert(UncompressedSize32 + 4 == Size32 && UncompressedSize64 + 8 == Size64);
} // namespace data_descriptor

// Extra field: blocks of an id, a data length and the data.
namespace extra_block {
constexpr std::size_t Id = 0, DataLength = 2;
constexpr std::size_t HeaderSize = 4;
constexpr std::uint16_t Zip64 = 0x0001;
constexpr std::uint16_t UnicodePath = 0x7075;
// The Unicode path block: version 1, CRC-32 of the header name, the name in
// UTF-8.
constexpr std::uint8_t UnicodePathVersion = 1;
constexpr std::size_t UnicodeVersion = 0, UnicodeNameCrc = 1, UnicodeName = 5;
static_assert(DataLength + 2 == HeaderSize && UnicodeNameCrc + 4 == UnicodeName);
} // namespace extra_block

} // namespace dunzip
