// Shared test fixtures: scratch folders and whole-file helpers that work with
// the program's Windows-style paths on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/window.h"

namespace testing_support {

// A fresh empty folder, removed with everything in it when the object goes.
// Path() is in the form the program uses (a drive path on Windows).
class TTempFolder {
public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder &) = delete;
  TTempFolder &operator=(const TTempFolder &) = delete;

  const std::string &Path() const { return Folder; }
  // Path() + "\" + name.
  std::string operator/(std::string_view name) const;

private:
  std::string Folder;
};

// Message boxes shown while it lives, recorded and answered with `answer`
// instead of reaching a screen.
class TBoxRecorder {
public:
  struct TBox {
    platform::THandle Owner;
    std::string Text, Caption;
    std::uint32_t Style;
  };
  explicit TBoxRecorder(int answer = platform::IdOk);
  ~TBoxRecorder();
  TBoxRecorder(const TBoxRecorder &) = delete;
  TBoxRecorder &operator=(const TBoxRecorder &) = delete;

  std::vector<TBox> Boxes;
};

// folder + the host's separator + name.
std::string JoinPath(std::string_view folder, std::string_view name);

bool WriteWholeFile(std::string_view path, const std::vector<std::uint8_t> &bytes);
bool WriteWholeFile(std::string_view path, std::string_view text);
// Empty when the file cannot be read; use FileExists to tell the difference.
std::vector<std::uint8_t> ReadWholeFile(std::string_view path);
std::string ReadWholeText(std::string_view path);
bool FileExists(std::string_view path);
// The files of a folder, hidden ones too (and what else `attributes` asks
// for), in the order the seam finds them; a failed search fails the test.
std::vector<std::string> FileNames(std::string_view folder,
                                   std::uint32_t attributes = platform::faHidden);
bool MakeFolder(std::string_view path);
// A second name of an existing file.
bool MakeHardLink(std::string_view existing, std::string_view link);
// A FIFO (named pipe of the host file system); under Wine one on the Unix
// side, which Windows programs see as a file name.
// Tests remove it themselves: under Wine no Windows call can.
bool MakeFifo(std::string_view path);
bool RemoveFifo(std::string_view path);
// The bytes of a text.
inline std::vector<std::uint8_t> TextBytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}
// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed);
bool RunningOnWindows();
// Makes the unzip library's file operations count and fail through this
// process's fault hooks. Natively they share one seam already; on Windows the
// library is loaded (and kept) and its test-only entry is called. False when
// the library or the entry is missing.
bool FollowFaultsInUnzipLibrary();

} // namespace testing_support
