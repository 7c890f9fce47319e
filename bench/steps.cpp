// Benchmark driver: runs one step of an update on its own, through the same
// routines the update dialog calls, so bench/run can time each step against
// the peer tool that does the same work. Exit code 0 only when the step worked.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "admin/admin_records.h"
#include "packages/package_check.h"
#include "packages/package_signature.h"
#include "packages/placement.h"
#include "packages/unzip_file.h"
#include "platform/files.h"

namespace {

constexpr std::int32_t UnzipFunctionCode = 8;
constexpr std::uint8_t BenchDestIndex = 1;

class TQuietPlacementEvents : public packages::TPlacementEvents {
public:
  void ShowGroupCaption(std::string_view) override {}
};

int Usage() {
  std::fputs("usage: zrk_bench_steps verify PACKAGE\n"
             "       zrk_bench_steps unzip ARCHIVE STAGINGFOLDER\n"
             "       zrk_bench_steps place STAGINGFOLDER DESTFOLDER\n"
             "       zrk_bench_steps hash STAGINGFOLDER\n",
             stderr);
  return 2;
}

// Verification writes the archive beside the package, as the run does.
int Verify(const char *package) {
  if (packages::CheckPackageFile(package))
    return 0;
  std::fprintf(stderr, "verification failed: %s\n", package);
  return 1;
}

// The dialog's component with its design-time values and no-op handlers.
int Unzip(const char *archive, const char *staging) {
  packages::TUnzipFile unzip;
  packages::ApplyDialogDesignValues(unzip);
  unzip.lpszZipFile().SetText(archive);
  unzip.lpszDestination().SetText(staging);
  unzip.Execute(UnzipFunctionCode);
  if (unzip.ErrorCode == 0)
    return 0;
  std::fprintf(stderr, "unpacking failed with library result %d\n",
               static_cast<int>(unzip.ErrorCode));
  return 1;
}

int Place(const char *staging, const char *dest) {
  admin::TAdminHeader header;
  header.SetStagingFolder(staging);
  header.SetDestFolder(BenchDestIndex, dest);
  TQuietPlacementEvents events;
  // As a run places a package: journaled, committed, journal removed.
  packages::TPlacementJournal journal;
  journal.Path = packages::JournalPathIn(dest);
  std::int32_t result = packages::PlaceStagedFiles(header, BenchDestIndex, events, journal);
  if (result == admin::RunOk && !packages::CommitPlacement(journal))
    result = admin::RunCopyFailed;
  packages::CloseJournal(journal);
  if (result == admin::RunOk)
    return 0;
  std::fprintf(stderr, "placement failed with %d\n", static_cast<int>(result));
  return 1;
}

// What the check of a signed package reads: every staged file through SHA-256.
int Hash(const char *staging) {
  const std::string folder = std::string(staging) + "\\";
  std::size_t files = 0;
  bool ok = platform::WalkFiles(folder + "*.*", platform::faReadOnly | platform::faArchive,
                                [&](const platform::TFindEntry &entry) {
                                  platform::TSha256 digest{};
                                  ++files;
                                  return packages::HashFile(folder + entry.Name, digest);
                                });
  if (ok && files != 0)
    return 0;
  std::fprintf(stderr, "hashing failed after %zu files\n", files);
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  try {
    if (argc == 3 && std::strcmp(argv[1], "verify") == 0)
      return Verify(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "unzip") == 0)
      return Unzip(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "place") == 0)
      return Place(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "hash") == 0)
      return Hash(argv[2]);
    return Usage();
  } catch (...) {
    std::fputs("unexpected fault\n", stderr);
    return 1;
  }
}
