// Scratch folders and file helpers for the tests, on top of the platform seam
// and std::filesystem (the native path of a Windows-style path comes from the
// seam's mapping).
#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

#include "dunzip/dunzip_api.h"
#include "platform/dynlib.h"
#include "platform/fault.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace testing_support {

namespace {
std::atomic<unsigned> Counter{0};

fs::path Native(std::string_view path) {
  return fs::path(platform::NativePath(path));
}
} // namespace

TBoxRecorder::TBoxRecorder(int answer) {
  platform::SetMessageBoxHook([this, answer](platform::THandle owner, std::string_view text,
                                             std::string_view caption, std::uint32_t style) {
    Boxes.push_back({owner, std::string(text), std::string(caption), style});
    return answer;
  });
}

TBoxRecorder::~TBoxRecorder() {
  platform::SetMessageBoxHook(nullptr);
}

TTempFolder::TTempFolder() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  auto stamp = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFFF);
  for (;;) {
    fs::path p = base / ("zrkt" + std::to_string(stamp) + "_" + std::to_string(Counter++));
    if (fs::create_directory(p, ec)) {
      Folder = p.string();
      break;
    }
  }
  if (!Folder.empty() && (Folder.back() == '\\' || Folder.back() == '/'))
    Folder.pop_back();
}

TTempFolder::~TTempFolder() {
  std::error_code ec;
  // Read-only files would make removal fail on Windows.
  for (auto it = fs::recursive_directory_iterator(Native(Folder), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    (void)platform::SetAttributes(it->path().string(), platform::faArchive);
  }
  fs::remove_all(Native(Folder), ec);
}

std::string TTempFolder::operator/(std::string_view name) const {
  return JoinPath(Folder, name);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  return std::string(folder) + (RunningOnWindows() ? "\\" : "/") + std::string(name);
}

bool WriteWholeFile(std::string_view path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  if (!out)
    return false;
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool WriteWholeFile(std::string_view path, std::string_view text) {
  return WriteWholeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadWholeFile(std::string_view path) {
  std::ifstream in(Native(path), std::ios::binary);
  if (!in)
    return {};
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::string ReadWholeText(std::string_view path) {
  auto bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool FileExists(std::string_view path) {
  std::error_code ec;
  return fs::exists(Native(path), ec);
}

std::vector<std::string> FileNames(std::string_view folder, std::uint32_t attributes) {
  std::vector<platform::TFindEntry> entries;
  EXPECT_TRUE(platform::FindFiles(JoinPath(folder, "*.*"), attributes, entries)) << folder;
  std::vector<std::string> names;
  for (const auto &e : entries)
    names.push_back(e.Name);
  return names;
}

bool MakeFolder(std::string_view path) {
  std::error_code ec;
  fs::create_directories(Native(path), ec);
  return !ec;
}

bool MakeHardLink(std::string_view existing, std::string_view link) {
  std::error_code ec;
  fs::create_hard_link(Native(existing), Native(link), ec);
  return !ec;
}

std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed) {
  std::vector<std::uint8_t> out(count);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto &b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

bool RunningOnWindows() {
  return platform::HostIsWindows();
}

bool FollowFaultsInUnzipLibrary() {
  if (!RunningOnWindows())
    return true;
  // Never freed: the library must stay loaded, and linked, for the process.
  static void *const library = platform::LoadDynamicLibrary(dunzip::DunzipLibraryName);
  // The extra entry of the library's test variant (dunzip/follow_faults.cpp).
  using TFollowFaults = void(DUNZIP_CALL *)(const void *hooks);
  const auto follow =
      reinterpret_cast<TFollowFaults>(platform::FindSymbol(library, "dunzipTestFollowFaults"));
  if (follow == nullptr)
    return false;
  const platform::fault::THooks hooks = platform::fault::OwnHooks();
  follow(&hooks);
  return true;
}

} // namespace testing_support
