// Fuzz target for the FILEPATH.ID lookup: the input is the marker file in the
// staging folder. Its first two bytes pick the file name looked up: the name
// of one of the file's records (with the case of A to Z changed) or a name
// that no record is likely to hold.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "packages/placement.h"
#include "util/text.h"

namespace {

using fuzz::Require;
using namespace packages;

constexpr char StagingFolder[] = "C:\\HELP";
constexpr char MarkerPath[] = "C:\\HELP\\FILEPATH.ID";

std::string RecordName(const std::uint8_t *record) {
  return std::string(reinterpret_cast<const char *>(record + FileNameCharsOffset),
                     record[FileNameLengthOffset]);
}

std::string FlipCase(std::string name, std::uint8_t mask) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    char &c = name[i];
    if ((mask >> (i % 8)) & 1) {
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
      else if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::UseScratchDrives();
  if (size < 2)
    return 0;
  const std::uint8_t pick = data[0];
  const std::uint8_t caseMask = data[1];
  const std::uint8_t *marker = data + 2;
  const std::size_t markerSize = size - 2;
  const std::size_t records = markerSize / FilePathEntrySize;

  std::string name = "unlisted.dat";
  if (records > 0 && pick < 0xF0)
    name = FlipCase(RecordName(marker + (pick % records) * FilePathEntrySize), caseMask);

  fuzz::MakeFolder(StagingFolder);
  fuzz::PutFile(MarkerPath, marker, markerSize);
  std::uint8_t index = FindIndivFilePath(StagingFolder, name);
  Require(index <= 20, "FindIndivFilePath: an index outside 0 to 20");

  // The first record that names the file decides; a trailing partial record
  // is no record.
  util::TShortString key = util::LowerCaseAscii(name);
  std::uint8_t expected = 0;
  for (std::size_t r = 0; r < records; ++r) {
    const std::uint8_t *record = marker + r * FilePathEntrySize;
    if (util::LowerCaseAscii(RecordName(record)) != key)
      continue;
    std::uint8_t folder = record[FolderIndexOffset];
    expected = folder >= 1 && folder <= 20 ? folder : 0;
    break;
  }
  Require(index == expected, "FindIndivFilePath: not the first matching record's index");

  std::vector<std::uint8_t> after;
  Require(fuzz::GetFile(MarkerPath, after) &&
              after == std::vector<std::uint8_t>(marker, marker + markerSize),
          "FindIndivFilePath changed FILEPATH.ID");
  Require(FindIndivFilePath("C:\\NOWHERE", name) == 0,
          "FindIndivFilePath: an index without a marker file");
  return 0;
}
