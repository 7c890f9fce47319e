// Package verification: the checksum against a byte-wise table version and
// known answers, the container's edge cases, and hostile packages (every
// single-byte change, every truncation) built with the package writer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "packages/package_check.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"
#include "util/byte_order.h"

namespace {

using packages::TPackageFault;
using packages::TPackageReport;
using namespace testing_support;
using Bytes = std::vector<std::uint8_t>;

// One table lookup per byte, the textbook way; the zlib-driven routine must agree.
std::uint32_t TableCrc32(const void *buffer, std::int32_t length, std::uint32_t crc) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  const auto *p = static_cast<const std::uint8_t *>(buffer);
  for (std::int32_t i = 0; i < length; ++i)
    crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

constexpr auto Text = TextBytes;

// A package put together by hand, field by field, independent of the writer.
struct TChunk {
  TChunk(Bytes payload, std::int64_t crc, std::optional<std::int32_t> length = std::nullopt)
      : Payload(std::move(payload)), Crc(crc), Length(length) {}
  Bytes Payload;
  std::int64_t Crc;
  std::optional<std::int32_t> Length; // default: the payload's length
};
Bytes HandPackage(std::int32_t totalLength, std::int64_t crcSum,
                  const std::vector<TChunk> &chunks) {
  Bytes out(12);
  util::PutI32(out.data(), 0, totalLength);
  util::PutI64(out.data(), 4, crcSum);
  for (const TChunk &c : chunks) {
    std::size_t at = out.size();
    out.resize(at + 12);
    util::PutI32(out.data(), at, c.Length.value_or(static_cast<std::int32_t>(c.Payload.size())));
    util::PutI64(out.data(), at + 4, c.Crc);
    out.insert(out.end(), c.Payload.begin(), c.Payload.end());
  }
  return out;
}

TEST(UpdateCrc32, KnownAnswersHaveNoFinalComplement) {
  struct {
    std::string_view text;
    std::uint32_t crc;
  } cases[] = {{"123456789", 0x340BC6D9u}, {"abc", 0xCADBBE3Du}, {"", 0xFFFFFFFFu}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(
        packages::UpdateCrc32(c.text.data(), static_cast<std::int32_t>(c.text.size()), 0xFFFFFFFFu),
        c.crc);
    EXPECT_EQ(TableCrc32(c.text.data(), static_cast<std::int32_t>(c.text.size()), 0xFFFFFFFFu),
              c.crc);
  }
  EXPECT_EQ(packages::ChunkChecksum("abc", 3), static_cast<std::int64_t>(0xFFFFFFFFCADBBE3Dull));
  EXPECT_EQ(packages::ChunkChecksum("123456789", 9), 0x340BC6D9);
  EXPECT_EQ(packages::ChunkChecksum(nullptr, 0), -1);
}

TEST(UpdateCrc32, NonPositiveLengthFeedsNothing) {
  const char data[] = "xyz";
  for (std::int32_t length : {0, -1, -65000}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(packages::UpdateCrc32(data, length, 0x12345678u), 0x12345678u);
  }
}

TEST(UpdateCrc32, AgreesWithTableOnRandomDataAndSplitFeeds) {
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    Bytes data = PatternBytes(seed * 997, seed);
    auto n = static_cast<std::int32_t>(data.size());
    std::uint32_t start = seed * 0x9E3779B9u;
    SCOPED_TRACE(seed);
    std::uint32_t whole = packages::UpdateCrc32(data.data(), n, start);
    ASSERT_EQ(whole, TableCrc32(data.data(), n, start));
    // The register carries over between pieces.
    std::int32_t cut = static_cast<std::int32_t>(seed * 131) % n;
    std::uint32_t first = packages::UpdateCrc32(data.data(), cut, start);
    EXPECT_EQ(packages::UpdateCrc32(data.data() + cut, n - cut, first), whole);
  }
}

class PackageFiles : public ::testing::Test {
protected:
  TTempFolder Folder;
  std::string Package = Folder / "UPD1.PAK";
  std::string Archive = Folder / "UPD1.zip";

  bool Check(const Bytes &package, TPackageReport &report) {
    EXPECT_TRUE(WriteWholeFile(Package, package));
    return packages::VerifyPackageDetailed(Package, report);
  }
};

TEST_F(PackageFiles, WriterRoundTripsThroughVerification) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{64999}, std::size_t{65000},
                           std::size_t{65001}, std::size_t{200000}}) {
    for (std::int32_t chunk : {1000, 65000}) {
      if (size > 5000 && chunk == 1000)
        continue;
      SCOPED_TRACE(std::to_string(size) + " bytes in chunks of " + std::to_string(chunk));
      Bytes payload = PatternBytes(size, static_cast<std::uint32_t>(size + 7));
      Bytes built = packages::BuildPackageBytes(payload, chunk);
      std::string zip = Folder / "payload.bin";
      ASSERT_TRUE(WriteWholeFile(zip, payload));
      ASSERT_TRUE(packages::WritePackageFile(zip, Package, chunk));
      EXPECT_EQ(ReadWholeFile(Package), built);
      TPackageReport report;
      EXPECT_TRUE(packages::VerifyPackageDetailed(Package, report))
          << packages::DescribePackageReport(report);
      EXPECT_EQ(ReadWholeFile(Archive), payload);
      std::size_t chunks = size == 0 ? 1 : (size + chunk - 1) / chunk;
      EXPECT_EQ(report.ChunksVerified, static_cast<std::int32_t>(chunks));
    }
  }
}

TEST_F(PackageFiles, ContainerEdgeCases) {
  Bytes abc = Text("abc"), digits = Text("123456789");
  const std::int64_t abcCrc = static_cast<std::int64_t>(0xFFFFFFFFCADBBE3Dull);
  const std::int64_t digitsCrc = 0x340BC6D9;
  Bytes big65000 = PatternBytes(65000, 1), big65001 = PatternBytes(65001, 2);
  std::int64_t crc65000 = packages::ChunkChecksum(big65000.data(), 65000);
  std::int64_t crc65001 = packages::ChunkChecksum(big65001.data(), 65001);
  Bytes twoChunks = HandPackage(12, static_cast<std::int64_t>(0xFFFFFFFFFEE78516ull),
                                {{abc, abcCrc}, {digits, digitsCrc}});
  Bytes trailing = twoChunks;
  trailing.insert(trailing.end(), {1, 2, 3, 4, 5});

  struct {
    const char *name;
    Bytes package;
    bool ok;
    TPackageFault fault;
    Bytes archive;
  } cases[] = {
      {"zero bytes", {}, false, TPackageFault::HeaderMissing, {}},
      {"header only", HandPackage(0, -1, {}), false, TPackageFault::ChunkHeaderCut, {}},
      {"one empty chunk", HandPackage(0, -1, {{{}, -1}}), true, TPackageFault::None, {}},
      {"empty chunk stored with crc 0xFFFFFFFF unextended",
       HandPackage(0, 0xFFFFFFFF, {{{}, 0xFFFFFFFF}}),
       false,
       TPackageFault::ChunkCrcMismatch,
       {}},
      {"chunk of 65000", HandPackage(65000, crc65000, {{big65000, crc65000}}), true,
       TPackageFault::None, big65000},
      {"chunk of 65001",
       HandPackage(65001, crc65001, {{big65001, crc65001}}),
       false,
       TPackageFault::ChunkLengthBad,
       {}},
      {"negative chunk length",
       HandPackage(0, -1, {{{}, -1, -1000}}),
       false,
       TPackageFault::ChunkLengthBad,
       {}},
      {"top bit set, sign-extended", HandPackage(3, abcCrc, {{abc, abcCrc}}), true,
       TPackageFault::None, abc},
      {"top bit set, upper bytes zero",
       HandPackage(3, 0xCADBBE3D, {{abc, 0xCADBBE3D}}),
       false,
       TPackageFault::ChunkCrcMismatch,
       {}},
      {"64-bit crcSum of two chunks", twoChunks, true, TPackageFault::None, Text("abc123456789")},
      {"crcSum summed in 32 bits",
       HandPackage(12, 0xFEE78516, {{abc, abcCrc}, {digits, digitsCrc}}), false,
       TPackageFault::CrcSumMismatch, Text("abc123456789")},
      {"trailing bytes", trailing, false, TPackageFault::ChunkHeaderCut, Text("abc123456789")},
      {"wrong totalLength",
       HandPackage(13, static_cast<std::int64_t>(0xFFFFFFFFFEE78516ull),
                   {{abc, abcCrc}, {digits, digitsCrc}}),
       false, TPackageFault::TotalLengthMismatch, Text("abc123456789")},
      {"payload cut",
       HandPackage(9, digitsCrc, {{Text("1234"), digitsCrc, 9}}),
       false,
       TPackageFault::ChunkPayloadCut,
       {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TPackageReport report;
    EXPECT_EQ(Check(c.package, report), c.ok) << packages::DescribePackageReport(report);
    EXPECT_EQ(report.Fault, c.fault) << packages::DescribePackageReport(report);
    ASSERT_TRUE(FileExists(Archive));
    EXPECT_EQ(ReadWholeFile(Archive), c.archive);
    EXPECT_EQ(ReadWholeFile(Package), c.package) << "the package is only read";
  }
}

// Checksums read as the 32-bit values they are, in the run log as in the
// tools: a sign-extended CRC and a crcSum within 32 bits in 8 digits; a sum
// beyond them in 16.
TEST_F(PackageFiles, ReportShowsChecksumsIn32BitsUnlessTheSumIsWider) {
  const std::int64_t abc = static_cast<std::int64_t>(0xFFFFFFFFCADBBE3Dull);
  const std::int64_t wide = 3 * abc;
  struct {
    const char *Name;
    Bytes Package;
    const char *Says;
  } const cases[] = {
      {"one chunk", HandPackage(3, abc, {{Text("abc"), abc}}), "crcSum 0xCADBBE3D"},
      {"two chunks",
       HandPackage(12, abc + 0x340BC6D9, {{Text("abc"), abc}, {Text("123456789"), 0x340BC6D9}}),
       "crcSum 0xFEE78516"},
      {"a stored chunk checksum", HandPackage(3, abc, {{Text("abc"), 0x7FFFFFFF}}),
       "chunkCrc 0x7FFFFFFF stored, 0xCADBBE3D computed"},
      {"a sum beyond 32 bits",
       HandPackage(9, wide, {{Text("abc"), abc}, {Text("abc"), abc}, {Text("abc"), abc}}),
       "crcSum 0xFFFFFFFF60933AB7"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TPackageReport report;
    (void)Check(c.Package, report);
    const std::string text = packages::DescribePackageReport(report);
    EXPECT_NE(text.find(c.Says), std::string::npos) << text;
  }
}

TEST_F(PackageFiles, ReportNamesTheChunkAndOffset) {
  Bytes payload = PatternBytes(3000, 9);
  Bytes package = packages::BuildPackageBytes(payload, 1000);
  package[12 + 2 * (12 + 1000) + 12 + 500] ^= 0x40; // inside chunk 2's payload
  TPackageReport report;
  EXPECT_FALSE(Check(package, report));
  EXPECT_EQ(report.Fault, TPackageFault::ChunkCrcMismatch);
  EXPECT_EQ(report.Chunk, 2);
  EXPECT_EQ(report.ChunkOffset, 12 + 2 * (12 + 1000));
  EXPECT_EQ(report.ChunksVerified, 2);
  std::string text = packages::DescribePackageReport(report);
  EXPECT_NE(text.find("chunk 2 at offset 2036"), std::string::npos) << text;
}

// Chunks are checked while the next one is read: a fault is still reported at
// the first bad chunk in file order, with the chunks before it (and only those)
// in the archive, also when a later chunk is damaged too.
TEST_F(PackageFiles, FirstFaultInFileOrderWinsWithLargeChunks) {
  constexpr std::size_t ChunkSize = 65000, Stride = 12 + ChunkSize, Chunks = 5;
  const Bytes payload = PatternBytes(Chunks * ChunkSize, 21);
  const Bytes valid = packages::BuildPackageBytes(payload, ChunkSize);
  auto payloadOf = [&](std::size_t chunk) { return 12 + chunk * Stride + 12; };
  auto flip = [](Bytes b, std::size_t at) {
    b[at] ^= 0x10;
    return b;
  };
  auto cut = [](Bytes b, std::size_t size) {
    b.resize(size);
    return b;
  };
  struct {
    const char *name;
    Bytes package;
    TPackageFault fault;
    std::int32_t chunk;
  } cases[] = {
      {"crc in chunk 0", flip(valid, payloadOf(0) + 7), TPackageFault::ChunkCrcMismatch, 0},
      {"crc in chunk 2, chunk 3 cut short",
       cut(flip(valid, payloadOf(2) + 64999), payloadOf(3) + 10), TPackageFault::ChunkCrcMismatch,
       2},
      {"crc in chunk 1 and chunk 3", flip(flip(valid, payloadOf(1)), payloadOf(3)),
       TPackageFault::ChunkCrcMismatch, 1},
      {"payload of the last chunk cut", cut(valid, valid.size() - 1),
       TPackageFault::ChunkPayloadCut, 4},
      {"header of chunk 3 cut", cut(valid, payloadOf(3) - 5), TPackageFault::ChunkHeaderCut, 3},
      {"length of chunk 2 too large", flip(valid, payloadOf(2) - 12 + 2),
       TPackageFault::ChunkLengthBad, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TPackageReport report;
    EXPECT_FALSE(Check(c.package, report));
    EXPECT_EQ(report.Fault, c.fault) << packages::DescribePackageReport(report);
    EXPECT_EQ(report.Chunk, c.chunk);
    EXPECT_EQ(report.ChunkOffset, static_cast<std::int64_t>(12 + c.chunk * Stride));
    EXPECT_EQ(report.ChunksVerified, c.chunk);
    EXPECT_EQ(report.BytesVerified, static_cast<std::int64_t>(c.chunk * ChunkSize));
    EXPECT_EQ(ReadWholeFile(Archive),
              Bytes(payload.begin(), payload.begin() + c.chunk * ChunkSize));
  }
}

TEST_F(PackageFiles, OldArchiveIsDeletedFirstEvenWhenVerificationFails) {
  ASSERT_TRUE(WriteWholeFile(Archive, Text("old archive")));
  TPackageReport report;
  EXPECT_FALSE(Check({}, report));
  EXPECT_TRUE(ReadWholeFile(Archive).empty());

  ASSERT_TRUE(WriteWholeFile(Archive, Text("old archive")));
  std::string missing = Folder / "NOPE.PAK";
  EXPECT_FALSE(packages::CheckPackageFile(missing));
  EXPECT_FALSE(FileExists(Folder / "NOPE.zip"));
  EXPECT_TRUE(FileExists(Archive)) << "only the missing package's own archive name is removed";
}

TEST_F(PackageFiles, PackageNamedZipIsRefusedAndKept) {
  Bytes package = packages::BuildPackageBytes(Text("abc"), 100);
  for (const char *name : {"SELF.zip", "SELF.ZIP", "self.Zip"}) {
    SCOPED_TRACE(name);
    std::string path = Folder / name;
    ASSERT_TRUE(WriteWholeFile(path, package));
    TPackageReport report;
    EXPECT_FALSE(packages::VerifyPackageDetailed(path, report));
    EXPECT_EQ(report.Fault, TPackageFault::ArchiveIsPackage);
    EXPECT_EQ(ReadWholeFile(path), package);
  }
}

TEST_F(PackageFiles, ArchiveNeverLandsOutsideThePackagesFolderOrUnderACutName) {
  Bytes package = packages::BuildPackageBytes(Text("abc"), 100);
  // A "." in a folder name: only the file name's extension changes.
  std::string dotted = Folder / "V3.83";
  ASSERT_TRUE(testing_support::MakeFolder(dotted));
  const std::string separator = testing_support::RunningOnWindows() ? "\\" : "/";
  std::string stranger = Folder / "V3.zip";
  ASSERT_TRUE(WriteWholeFile(stranger, Text("someone else's")));
  const struct {
    const char *Package, *Archive;
  } names[] = {{"PAKET1", "PAKET1.zip"}, {"PAKET1.PAK", "PAKET1.zip"}, {"P.1.X", "P.1.zip"}};
  TPackageReport report;
  for (const auto &name : names) {
    SCOPED_TRACE(name.Package);
    std::string path = dotted + separator + name.Package;
    ASSERT_TRUE(WriteWholeFile(path, package));
    EXPECT_EQ(packages::ArchivePathOf(path), dotted + separator + name.Archive);
    EXPECT_TRUE(packages::VerifyPackageDetailed(path, report));
    EXPECT_EQ(ReadWholeText(dotted + separator + name.Archive), "abc");
  }
  EXPECT_EQ(ReadWholeText(stranger), "someone else's");

  std::string longPath =
      Folder.Path() + "\\" + std::string(255 - Folder.Path().size() - 3, 'p') + ".p";
  ASSERT_EQ(longPath.size(), 255u);
  EXPECT_FALSE(packages::VerifyPackageDetailed(longPath, report));
  EXPECT_EQ(report.Fault, TPackageFault::ArchiveNameTooLong);
  EXPECT_FALSE(packages::VerifyPackageDetailed(longPath + "pp", report));
  EXPECT_EQ(report.Fault, TPackageFault::PathTooLong);
}

// Every single-byte change and every truncation of a small valid package is
// refused, and nothing crashes.
TEST_F(PackageFiles, EverySingleByteChangeAndTruncationIsRefused) {
  Bytes payload = PatternBytes(40, 3);
  Bytes valid = packages::BuildPackageBytes(payload, 16);
  TPackageReport report;
  ASSERT_TRUE(Check(valid, report));
  for (std::size_t i = 0; i < valid.size(); ++i) {
    for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes changed = valid;
      changed[i] ^= flip;
      SCOPED_TRACE("byte " + std::to_string(i) + " xor " + std::to_string(flip));
      ASSERT_FALSE(Check(changed, report));
    }
  }
  for (std::size_t n = 0; n < valid.size(); ++n) {
    SCOPED_TRACE("cut to " + std::to_string(n));
    ASSERT_FALSE(
        Check(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(n)), report));
  }
}

// Every archive write fails in turn, as a full disk (part of it written):
// the report names the first chunk not whole in the archive, and the archive
// holds the chunks before it and the part of it written. Large chunks are
// written up to aligned boundaries, their ends with the next chunk.
TEST_F(PackageFiles, FailedArchiveWriteIsReported) {
  for (std::int32_t chunkSize : {1000, 65000}) {
    SCOPED_TRACE(chunkSize);
    const Bytes payload = PatternBytes(5 * static_cast<std::size_t>(chunkSize), 4);
    ASSERT_TRUE(WriteWholeFile(Package, packages::BuildPackageBytes(payload, chunkSize)));
    TPackageReport report;
    const auto count = testing_support::CountFaultOperations(
        [&] { ASSERT_TRUE(packages::VerifyPackageStream(Package, Archive, report)); });
    int failures = 0;
    testing_support::ForEachFault(
        testing_support::FaultNumbers(count), true, testing_support::NoState,
        [&](bool &, std::uint64_t) {
          return packages::VerifyPackageStream(Package, Archive, report);
        },
        [&](bool &, bool ok, std::uint64_t) {
          EXPECT_FALSE(ok);
          EXPECT_NE(report.Fault, TPackageFault::None);
          if (report.Fault != TPackageFault::ArchiveWriteFailed)
            return;
          ++failures;
          EXPECT_EQ(report.ChunksVerified, report.Chunk);
          EXPECT_EQ(report.BytesVerified, std::int64_t{report.Chunk} * chunkSize);
          EXPECT_EQ(report.ChunkOffset, 12 + std::int64_t{report.Chunk} * (12 + chunkSize));
          EXPECT_EQ(report.Expected, chunkSize);
          ASSERT_GE(report.Found, 0);
          ASSERT_LT(report.Found, chunkSize);
          EXPECT_EQ(ReadWholeFile(Archive),
                    Bytes(payload.begin(), payload.begin() + report.BytesVerified + report.Found));
        });
    EXPECT_EQ(failures, 5);
  }
}

} // namespace
