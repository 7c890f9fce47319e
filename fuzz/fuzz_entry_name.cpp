// Fuzz target for the cleaning of entry names, the one step that keeps an
// archive from writing outside the destination folder: the input is a stored
// name (its first byte picks the name's encoding flags).
#include <cstdint>
#include <string>

#include "dunzip/entry_name.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

void CheckPart(const std::string &part) {
  Require(!part.empty() && part != "." && part != "..", "empty or dot part");
  for (char c : part) {
    auto byte = static_cast<unsigned char>(c);
    Require(byte >= 0x20 && std::string("<>:\"/\\|?*").find(c) == std::string::npos,
            "a part holds a character Windows does not allow in a name");
  }
  Require(part.back() != '.' && part.back() != ' ', "a part ends in a dot or blank");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  dunzip::TZipEntry entry;
  entry.Flags = (data[0] & 1) != 0 ? dunzip::FlagUtf8Name : 0;
  // Made on Unix (UTF-8 guessed for unflagged names) or on DOS.
  entry.VersionMadeBy = (data[0] & 4) != 0 ? 0x0314 : 0x0014;
  entry.RawName.assign(reinterpret_cast<const char *>(data + 1), size - 1);
  if ((data[0] & 2) != 0) {
    entry.UnicodeName = entry.RawName;
    entry.HasUnicodeName = true;
  }

  std::string decoded;
  if (!dunzip::DecodeEntryName(entry, decoded))
    return 0;
  dunzip::TCleanName clean;
  bool cleaned = dunzip::CleanEntryName(decoded, clean);
  if (!cleaned)
    return 0;
  CheckPart(clean.Name);
  for (const std::string &folder : clean.Folders)
    CheckPart(folder);

  // Joining the parts again and cleaning once more changes nothing.
  std::string joined;
  for (const std::string &folder : clean.Folders)
    joined += folder + "\\";
  joined += clean.Name;
  dunzip::TCleanName again;
  Require(dunzip::CleanEntryName(joined, again) && again.Folders == clean.Folders &&
              again.Name == clean.Name,
          "a cleaned name does not clean to itself");
  return 0;
}
