// Scratch drives and invariant checks for the fuzz targets. The scratch folder
// lives below the temporary folder (TMPDIR) and is removed at exit.
#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/files.h"

namespace fuzz {

namespace {

class TScratchRoot {
public:
  TScratchRoot() {
    std::random_device random;
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
      base = "/tmp";
    char name[32];
    std::snprintf(name, sizeof name, "zrk-fuzz-%08x%08x", random(), random());
    Folder = base / name;
    for (char drive = 'C'; drive <= 'G'; ++drive)
      std::filesystem::create_directories(Folder / std::string(1, drive), error);
    Require(!error, "the scratch drives cannot be created");
    platform::SetDriveRoot(Folder.string());
  }
  ~TScratchRoot() {
    std::error_code error;
    std::filesystem::remove_all(Folder, error);
  }

private:
  std::filesystem::path Folder;
};

} // namespace

void Require(bool condition, const char *what) {
  if (condition)
    return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

void UseScratchDrives() {
  static TScratchRoot root;
}

void PutFile(std::string_view path, const std::uint8_t *data, std::size_t size) {
  platform::TFile file;
  Require(file.Create(path), "a scratch file cannot be created");
  std::uint32_t written = 0;
  Require(size == 0 ||
              (file.Write(data, static_cast<std::uint32_t>(size), written) && written == size),
          "a scratch file cannot be written");
  file.Close();
}

void PutFile(std::string_view path, const std::vector<std::uint8_t> &bytes) {
  PutFile(path, bytes.data(), bytes.size());
}

bool GetFile(std::string_view path, std::vector<std::uint8_t> &bytes) {
  bytes.clear();
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenRead(path) || !file.Size(size))
    return false;
  bytes.resize(static_cast<std::size_t>(size));
  std::uint32_t got = 0;
  bool ok = size == 0 || (file.Read(bytes.data(), static_cast<std::uint32_t>(size), got) &&
                          got == static_cast<std::uint32_t>(size));
  file.Close();
  return ok;
}

void MakeFolder(std::string_view path) {
  std::error_code error;
  std::filesystem::create_directories(platform::NativePath(path), error);
  Require(!error, "a scratch folder cannot be created");
}

bool FileExists(std::string_view path) {
  std::uint32_t attributes = 0;
  return platform::GetAttributes(path, attributes) && (attributes & platform::faDirectory) == 0;
}

} // namespace fuzz
