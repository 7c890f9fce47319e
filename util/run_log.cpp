// The run log: lines are gathered in memory and appended to ZRKUPD.LOG when
// the run starts, when it ends, and whenever 64 KiB have gathered (one open
// per file placed would cost more than the copy; holding every line of a
// package of many files would make the memory grow with them); opened shared, so that a viewer
// holding it open does not keep the lines out, and any failure only loses lines.
#include "util/run_log.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/version_info.h"
#include "util/text.h"
#include "zrk_version.h"

namespace runlog {

namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view LibraryName = "DUNZIP32.DLL";
constexpr std::size_t FlushAbove = 64 * 1024;

std::string LogPath;
std::string Pending;
bool Started = false;

std::string TwoDigits(int n) {
  return std::string(1, static_cast<char>('0' + n / 10 % 10)) + static_cast<char>('0' + n % 10);
}

std::string Now() {
  const platform::TLocalTime t = platform::LocalNow();
  return std::to_string(t.Year) + "-" + TwoDigits(t.Month) + "-" + TwoDigits(t.Day) + " " +
         TwoDigits(t.Hour) + ":" + TwoDigits(t.Minute) + ":" + TwoDigits(t.Second);
}

std::string FolderOf(const std::string &path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool ReadAll(platform::TFile &file, std::int64_t size, std::string &text) {
  text.assign(static_cast<std::size_t>(size), '\0');
  std::uint32_t got = 0;
  return file.Seek(0) &&
         (size == 0 || (file.Read(text.data(), static_cast<std::uint32_t>(size), got) &&
                        got == static_cast<std::uint32_t>(size)));
}

// The newer half of the log, starting at a block (or at least a line).
std::string NewerHalf(const std::string &text) {
  const std::size_t from = text.size() / 2;
  std::size_t at = text.find(std::string(LineEnd) + std::string(BlockMark), from);
  if (at == std::string::npos)
    at = text.find(LineEnd, from);
  return at == std::string::npos ? std::string() : text.substr(at + LineEnd.size());
}

void Write(const std::string &bytes) {
  platform::TFile file;
  if (!file.OpenShared(LogPath) && !file.Create(LogPath))
    return;
  std::int64_t size = 0;
  if (!file.Size(size))
    return;
  std::uint32_t written = 0;
  if (size + static_cast<std::int64_t>(bytes.size()) > RunLogLimit) {
    std::string old;
    if (!ReadAll(file, size, old))
      return;
    std::string kept = NewerHalf(old) + bytes;
    if (kept.size() > static_cast<std::size_t>(RunLogLimit))
      kept = NewerHalf(kept);
    file.Close();
    // A new file beside it, then one move: a failure on the way keeps the old log.
    const std::string fresh = LogPath + ".new";
    platform::TFile out;
    if (!out.Create(fresh) ||
        !out.Write(kept.data(), static_cast<std::uint32_t>(kept.size()), written) ||
        written != kept.size()) {
      out.Close();
      // The old log stays; the half-written copy goes if it can.
      (void)platform::DeleteFile(fresh);
      return;
    }
    out.Close();
    if (!platform::MoveFileReplacing(fresh, LogPath))
      (void)platform::DeleteFile(fresh);
    return;
  }
  // The log never changes the run: a failed write is dropped.
  if (file.Seek(size))
    (void)file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
}

} // namespace

void BeginRun(std::string_view dataFolder, const std::vector<std::string> &params) {
  try {
    Pending.clear();
    Started = true;
    const util::TShortString folder = util::TrimText(dataFolder);
    LogPath = folder.Empty() ? std::string(RunLogName)
                             : util::AddBackslash(folder.View()) + std::string(RunLogName);
    std::string library =
        platform::FileVersion(FolderOf(platform::ExecutablePath()) + std::string(LibraryName));
    Note(std::string(BlockMark) + Now() + " zrkupd " + ZRK_VERSION + ", " +
         std::string(LibraryName) + " " + (library.empty() ? "(no version information)" : library));
    std::string line = "Parameters:";
    for (const std::string &p : params)
      line += " \"" + p + "\"";
    Note(params.empty() ? "Parameters: none" : line);
    // A run that never ends normally still leaves its start behind.
    Flush();
  } catch (...) {
  }
}

void Note(std::string_view line) {
  try {
    if (!Started)
      return;
    Pending.append(line);
    Pending.append(LineEnd);
    if (Pending.size() >= FlushAbove)
      Flush();
  } catch (...) {
  }
}

void NoteFailure(std::string_view what, std::string_view path, int osError) {
  try {
    Note(std::string(what) + ": " + std::string(path) + ": " + platform::ErrorText(osError));
  } catch (...) {
  }
}

void Flush() {
  try {
    if (!Started || Pending.empty())
      return;
    Write(Pending);
    Pending.clear();
    // A long line (the names of thousands of unpacked files) would leave its
    // room held for the rest of the run.
    if (Pending.capacity() > 2 * FlushAbove)
      Pending.shrink_to_fit();
  } catch (...) {
  }
}

void EndRun(std::int32_t result, std::string_view message) {
  try {
    if (!Started)
      return;
    std::string text(message);
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    Note("Result " + std::to_string(result) + (text.empty() ? "" : ": " + text));
    Flush();
    Started = false;
  } catch (...) {
  }
}

std::vector<std::string> SplitBlocks(std::string_view text) {
  std::vector<std::string> blocks;
  const std::string mark = std::string(LineEnd) + std::string(BlockMark);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t next = text.find(mark, start);
    std::size_t end = next == std::string_view::npos ? text.size() : next + LineEnd.size();
    blocks.emplace_back(text.substr(start, end - start));
    start = end;
  }
  return blocks;
}

} // namespace runlog
