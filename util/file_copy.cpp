// Copies through a temporary file beside the destination and replaces the
// destination in one step, so a failed copy (a full disk, a read error) never
// costs the previous version of the file.
#include "util/file_copy.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "util/short_string.h"
#include "util/text.h"

namespace util {

namespace {

// 64 KiB: one read and one write for most files; held on the heap so that
// threads with small stacks can copy too.
constexpr std::uint32_t CopyBufferSize = 64 * 1024;
// Longest path the ANSI file functions take (MAX_PATH without the NUL).
constexpr std::size_t MaxPathChars = 259;
constexpr int MaxTempAttempts = 1000;

std::atomic<unsigned> TempCounter{0};

std::string FolderPrefix(std::string_view destination) {
  std::string folder = ExtractFolder(destination);
  if (!folder.empty() && folder.back() != '\\' && folder.back() != ':')
    folder += '\\';
  return folder;
}

// A new file of a unique name in `prefix`'s folder, opened by nobody else.
bool CreateTempFile(const std::string &prefix, platform::TFile &file, std::string &path) {
  for (int attempt = 0; attempt < MaxTempAttempts; ++attempt) {
    std::string number = std::to_string(++TempCounter);
    path = prefix + "~zrk" + number + ".tmp";
    if (path.size() > MaxPathChars)
      path = prefix + "~" + number;
    if (file.CreateNew(path))
      return true;
    int error = platform::LastError();
    if (error != platform::ErrorAlreadyExists && error != platform::ErrorFileExists)
      return false;
  }
  return false;
}

int CopyToTemp(platform::TFile &source, platform::TFile &temp, std::uint32_t &dosTime) {
  std::vector<std::uint8_t> buffer(CopyBufferSize);
  for (;;) {
    std::uint32_t got = 0;
    if (!source.Read(buffer.data(), CopyBufferSize, got))
      return 3;
    if (got != 0) {
      std::uint32_t written = 0;
      if (!temp.Write(buffer.data(), got, written) || written != got)
        return 4;
    }
    if (got < CopyBufferSize)
      break;
  }
  if (!source.GetDosTime(dosTime))
    return 5;
  // The copy is whole; a date that cannot be set does not undo it.
  (void)temp.SetDosTime(dosTime);
  return 0;
}

// `tempPath` empty: a fresh name is found beside the destination.
int CopyThroughTemp(std::string_view source, std::string_view destination,
                    std::string_view tempPath) {
  // A longer name would be cut on its way into a short string and the copy
  // would land under a different name.
  if (source.size() > TShortString::Capacity || destination.size() > TShortString::Capacity)
    return 2;

  std::uint32_t attributes = 0;
  if (!platform::GetAttributes(source, attributes))
    return 1;
  platform::TFile input;
  if (!input.OpenRead(source))
    return 1;

  // Checked up front: on POSIX a rename replaces a read-only file regardless.
  std::uint32_t existing = 0;
  if (platform::GetAttributes(destination, existing) &&
      (existing & (platform::faReadOnly | platform::faDirectory)) != 0)
    return 2;

  platform::TFile temp;
  std::string path(tempPath);
  if (path.empty() ? !CreateTempFile(FolderPrefix(destination), temp, path) : !temp.CreateNew(path))
    return 2;

  std::uint32_t dosTime = 0;
  int result = CopyToTemp(input, temp, dosTime);
  input.Close();
  temp.Close();
  if (result == 0 && !platform::MoveFileReplacing(path, destination))
    result = 2;
  if (result != 0) {
    // Cleanup only: the copy has already failed.
    (void)platform::DeleteFile(path);
    return result;
  }
  // A file just written has the archive attribute alone; most sources have no
  // other. The data is in place either way; attributes follow where they can.
  if (attributes != platform::faArchive)
    (void)platform::SetAttributes(destination, attributes);
  return 0;
}

} // namespace

int CopyFileWithDate(std::string_view source, std::string_view destination) {
  return CopyThroughTemp(source, destination, {});
}

int CopyFileWithDate(std::string_view source, std::string_view destination,
                     std::string_view tempPath) {
  if (tempPath.empty())
    return 2;
  return CopyThroughTemp(source, destination, tempPath);
}

} // namespace util
