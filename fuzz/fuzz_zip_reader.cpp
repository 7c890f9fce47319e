// Fuzz target for the ZIP reader of the unzip library: the input is an archive
// in memory. Every entry of a readable central directory has its name cleaned
// and its data extracted into a sink that checks the promises of the reader:
// never more than the declared size, and a success only with the declared
// size and CRC-32.
#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "dunzip/entry_name.h"
#include "dunzip/zip_reader.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzz::Require;
using namespace dunzip;

// Stops an entry that would produce more than this; keeps bombs from
// swamping the run while the reader's own limits are still exercised.
constexpr std::uint64_t SinkLimit = 8u << 20;
constexpr std::size_t MaxEntriesExtracted = 64;

class TCheckingSink : public TByteSink {
public:
  explicit TCheckingSink(std::uint64_t declared) : Declared(declared) {}
  bool Write(const std::uint8_t *data, std::size_t count) override {
    Require(count <= Declared - Received, "the reader produced more than the declared size");
    Received += count;
    Crc = crc32(Crc, data, static_cast<uInt>(count));
    return Received <= SinkLimit;
  }
  std::uint64_t Declared;
  std::uint64_t Received = 0;
  uLong Crc = crc32(0L, Z_NULL, 0);
};

bool IsForbiddenInPart(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
}

// A cleaned part can be used as one level of a Windows path below the
// destination and nowhere else.
void CheckPart(const std::string &part) {
  Require(!part.empty() && part != "." && part != "..", "a cleaned name has an empty or dot part");
  for (char c : part)
    Require(!IsForbiddenInPart(c), "a cleaned name part holds a forbidden character");
  Require(part.back() != '.' && part.back() != ' ', "a cleaned name part ends in a dot or blank");
}

void CheckName(const TZipEntry &entry) {
  std::string decoded;
  if (!DecodeEntryName(entry, decoded))
    return;
  TCleanName clean;
  if (!CleanEntryName(decoded, clean))
    return;
  CheckPart(clean.Name);
  for (const std::string &folder : clean.Folders)
    CheckPart(folder);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  TMemorySource source(data, size);
  TZipReader reader(source);
  std::vector<TZipEntry> entries;
  if (reader.ReadCentralDirectory(entries) != TZipError::None)
    return 0;
  Require(entries.size() <= size / 46, "more entries than the directory can hold");
  std::size_t extracted = 0;
  for (const TZipEntry &entry : entries) {
    CheckName(entry);
    if (extracted++ == MaxEntriesExtracted)
      break;
    TCheckingSink sink(entry.UncompressedSize);
    TZipError error = reader.ExtractEntry(entry, sink);
    if (error == TZipError::None) {
      Require(sink.Received == entry.UncompressedSize, "extracted size differs from the entry's");
      Require(sink.Crc == entry.Crc32, "extracted data does not match the entry's CRC-32");
      Require(entry.MethodSupported() && !entry.IsEncrypted(),
              "an unsupported entry was extracted");
    }
  }
  return 0;
}
