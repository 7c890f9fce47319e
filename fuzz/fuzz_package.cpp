// Fuzz target for package verification: the input is a package file in a
// download folder, verified the way the run does it. The first byte chooses
// whether the harness first repairs the chunk checksums and the header totals,
// so that the fuzzer also gets past the checksums into the structure.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "packages/package_check.h"
#include "util/byte_order.h"

namespace {

using fuzz::Require;
using namespace packages;

constexpr char PackagePath[] = "C:\\DL\\PAKET1.CRC";
constexpr char ArchivePath[] = "C:\\DL\\PAKET1.zip";
constexpr char RebuiltPackagePath[] = "C:\\DL\\AGAIN.CRC";
constexpr char RebuiltArchivePath[] = "C:\\DL\\AGAIN.zip";

constexpr std::uint8_t RepairChunks = 0x01;
constexpr std::uint8_t RepairTotalLength = 0x02;
constexpr std::uint8_t RepairCrcSum = 0x04;

// Walks the chunks as far as their lengths allow, sets what `repair` asks for
// and collects the payload. True when the chunks fill the file exactly.
bool Repair(std::vector<std::uint8_t> &package, std::uint8_t repair,
            std::vector<std::uint8_t> &payload) {
  if (package.size() < static_cast<std::size_t>(PackageHeaderSize))
    return false;
  std::size_t pos = PackageHeaderSize;
  std::uint64_t sum = 0;
  bool whole = false;
  while (pos + ChunkHeaderSize <= package.size()) {
    std::int32_t length = util::GetI32(package.data(), pos + ChunkLengthOffset);
    if (length < 0 || length > MaxChunkLength ||
        static_cast<std::size_t>(length) > package.size() - pos - ChunkHeaderSize)
      break;
    const std::uint8_t *data = &package[pos + ChunkHeaderSize];
    std::int64_t crc = ChunkChecksum(data, length);
    if (repair & RepairChunks)
      util::PutI64(package.data(), pos + ChunkCrcOffset, crc);
    std::int64_t stored = util::GetI64(package.data(), pos + ChunkCrcOffset);
    sum += static_cast<std::uint64_t>(stored);
    payload.insert(payload.end(), data, data + length);
    pos += ChunkHeaderSize + static_cast<std::size_t>(length);
    whole = pos == package.size();
  }
  if (repair & RepairTotalLength)
    util::PutU32(package.data(), HeaderTotalLengthOffset,
                 static_cast<std::uint32_t>(payload.size()));
  if (repair & RepairCrcSum)
    util::PutU64(package.data(), HeaderCrcSumOffset, sum);
  return whole;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::UseScratchDrives();
  if (size == 0)
    return 0;
  std::uint8_t repair = data[0];
  std::vector<std::uint8_t> package(data + 1, data + size);
  std::vector<std::uint8_t> payload;
  bool whole = Repair(package, repair, payload);
  bool allRepaired = (repair & 7) == 7;

  fuzz::MakeFolder("C:\\DL");
  fuzz::PutFile(PackagePath, package);
  static const std::uint8_t stale[] = {'s', 't', 'a', 'l', 'e'};
  fuzz::PutFile(ArchivePath, stale, sizeof stale);

  bool checked = CheckPackageFile(PackagePath);
  TPackageReport report;
  bool verified = VerifyPackageDetailed(PackagePath, report);
  Require(checked == verified, "CheckPackageFile and VerifyPackageDetailed disagree");
  Require(verified == (report.Fault == TPackageFault::None), "fault and result disagree");
  Require(!DescribePackageReport(report).empty(), "empty description");

  std::vector<std::uint8_t> after, archive;
  Require(fuzz::GetFile(PackagePath, after) && after == package, "the package was changed");
  bool haveArchive = fuzz::GetFile(ArchivePath, archive);
  Require(haveArchive, "the archive file was not created");
  Require(archive.size() == static_cast<std::size_t>(report.BytesVerified),
          "the archive does not hold exactly the verified bytes");
  std::size_t common = std::min(archive.size(), payload.size());
  Require(std::equal(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(common),
                     payload.begin()),
          "the archive differs from the chunk payloads");

  if (allRepaired && whole)
    Require(verified, "a package with every checksum and total right was refused");
  if (!verified)
    return 0;

  Require(whole, "a package with bytes after its chunks was accepted");
  Require(report.BytesVerified == report.TotalLength && report.CrcRunningSum == report.CrcSum,
          "accepted with wrong totals");
  Require(package.size() == static_cast<std::size_t>(PackageHeaderSize) +
                                static_cast<std::size_t>(report.ChunksVerified) * ChunkHeaderSize +
                                archive.size(),
          "accepted package size does not add up");
  Require(archive == payload, "the archive differs from the chunk payloads");

  // The writer's package of the same archive verifies to the same archive.
  fuzz::PutFile(RebuiltPackagePath, BuildPackageBytes(archive, MaxChunkLength));
  std::vector<std::uint8_t> again;
  Require(CheckPackageFile(RebuiltPackagePath), "the rebuilt package is refused");
  Require(fuzz::GetFile(RebuiltArchivePath, again) && again == archive,
          "the rebuilt package gives another archive");
  return 0;
}
