// Fuzz target for extraction to disk: the input's first byte sets the options
// (overwrite, flat, test run, answers to the questions, cancelling), the rest
// is an archive unpacked into a staging folder through the platform seam.
// Whatever the archive holds, nothing may appear outside the staging folder,
// no temporary file may stay behind, and a test run writes nothing.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "dunzip/dunzip_command.h"
#include "dunzip/extract.h"
#include "fuzz/fuzz_support.h"
#include "platform/files.h"

namespace {

using fuzz::Require;
namespace fs = std::filesystem;

constexpr char ArchivePath[] = "C:\\ZIP\\IN.ZIP";
constexpr char Destination[] = "C:\\OUT\\STAGE";

constexpr std::uint8_t OptOverWrite = 0x01;
constexpr std::uint8_t OptFlat = 0x02;
constexpr std::uint8_t OptTest = 0x04;
constexpr std::uint8_t OptAnswerYes = 0x08;
constexpr std::uint8_t OptOverwriteReadOnly = 0x10;
constexpr std::uint8_t OptCancelMinor = 0x20;
constexpr std::uint8_t OptCancelMajor = 0x40;
constexpr std::uint8_t OptSecondRun = 0x80;

std::uint8_t Options = 0;

std::int32_t DUNZIP_CALL OnStatus(const char *, std::int32_t percent, void *userData) {
  bool major = userData != nullptr;
  std::uint8_t cancel = major ? OptCancelMajor : OptCancelMinor;
  return (Options & cancel) != 0 && percent >= 50 ? 1 : 0;
}

std::int32_t DUNZIP_CALL OnMessage(std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t,
                                   const char *, const char *, void *) {
  return (Options & OptAnswerYes) != 0 ? dunzip::IdYes : 7; // IDNO
}

// Every file below the drive root, the archive and the staging folder apart,
// is a file the extraction had no business writing.
void CheckNothingOutside(bool testRun) {
  const fs::path drives = platform::DriveRoot();
  const fs::path archive = platform::NativePath(ArchivePath);
  const fs::path staging = platform::NativePath(Destination);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(drives, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path &p = it->path();
    if (it->is_directory())
      continue;
    Require(p.filename().string().rfind("~dz", 0) != 0, "a temporary file stayed behind");
    if (p == archive)
      continue;
    auto rel = p.lexically_relative(staging);
    Require(!rel.empty() && *rel.begin() != "..", "extraction wrote outside the staging folder");
    Require(!testRun, "a test run wrote a file");
  }
}

void Clear(const char *folder) {
  std::error_code error;
  fs::remove_all(platform::NativePath(folder), error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::UseScratchDrives();
  if (size == 0)
    return 0;
  Options = data[0];
  Clear("C:\\OUT");
  fuzz::MakeFolder("C:\\ZIP");
  fuzz::PutFile(ArchivePath, data + 1, size - 1);

  dunzip::TExtractRequest request;
  request.ZipFile = ArchivePath;
  request.FileSpec = "*.*";
  request.Destination = Destination;
  request.OverWrite = (Options & OptOverWrite) != 0;
  request.NoDirectoryNames = (Options & OptFlat) != 0;
  request.Test = (Options & OptTest) != 0;
  request.SubOptions = static_cast<std::uint16_t>(
      ((Options & OptOverwriteReadOnly) != 0 ? dunzip::USO_OVERWRITE_RO : 0) |
      ((Options & OptCancelMinor) != 0 ? dunzip::USO_MINORCANCEL : 0));
  static int majorTag = 1;
  request.MajorStatus = OnStatus;
  request.MajorUserData = &majorTag;
  request.MinorStatus = OnStatus;
  request.Message = OnMessage;

  std::uint32_t extracted = 0;
  dunzip::TDunzipResult result = dunzip::Extract(request, extracted);
  CheckNothingOutside(request.Test);
  // A second run over the files of the first asks the overwrite questions.
  if ((Options & OptSecondRun) != 0 && result == dunzip::dzOk) {
    dunzip::Extract(request, extracted);
    CheckNothingOutside(request.Test);
  }
  return 0;
}
