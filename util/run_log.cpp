// The run log: lines are gathered in memory and appended to ZRKUPD.LOG when
// the run starts, when it ends, and whenever 64 KiB have gathered (one open
// per file placed would cost more than the copy; holding every line of a
// package of many files would make the memory grow with them); opened shared, so that a viewer
// holding it open does not keep the lines out, and any failure only loses lines.
#include "util/run_log.h"

#include <algorithm>
#include <vector>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/path_parts.h"
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

// "[hh:mm:ss.mmm] ", before every line but the block's first, which carries
// the date as well: where a run spent its time shows between two lines.
std::string LineTime() {
  const platform::TLocalTime t = platform::LocalNow();
  return "[" + TwoDigits(t.Hour) + ":" + TwoDigits(t.Minute) + ":" + TwoDigits(t.Second) + "." +
         std::to_string(t.Millisecond / 100 % 10) + TwoDigits(t.Millisecond % 100) + "] ";
}

void Append(std::string_view line) {
  Pending.append(line);
  Pending.append(LineEnd);
  if (Pending.size() >= FlushAbove)
    Flush();
}

// What a trimmed log is made of: the old log from `From` to its end, then
// the new lines. Read in pieces, so that trimming never holds the whole log.
struct TLogText {
  platform::TFile &File;
  std::int64_t From, End;
  std::string_view Tail;

  std::int64_t Size() const { return End - From + static_cast<std::int64_t>(Tail.size()); }
  void Drop(std::int64_t count) {
    const std::int64_t old = End - From;
    if (count <= old) {
      From += count;
    } else {
      Tail.remove_prefix(static_cast<std::size_t>(count - old));
      From = End;
    }
  }
  // Up to `count` bytes at `at` (counted from `From`); false when the old log
  // cannot be read.
  bool Read(std::int64_t at, char *buffer, std::size_t count, std::size_t &got) const {
    got = 0;
    const std::int64_t old = End - From;
    if (at < old) {
      const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(old - at, count));
      std::uint32_t read = 0;
      if (!File.Seek(From + at) || !File.Read(buffer, n, read) || read != n)
        return false;
      got = n;
      return true;
    }
    const auto offset = static_cast<std::size_t>(at - old);
    if (offset < Tail.size())
      got = Tail.copy(buffer, count, offset);
    return true;
  }
};

// Where the newer half of `text` starts, looking from `from`: at a block (or
// at least a line); at the end when no line ends after `from`.
bool NewerHalf(const TLogText &text, std::int64_t from, std::int64_t &cut) {
  const std::string mark = std::string(LineEnd) + std::string(BlockMark);
  std::string window;
  std::vector<char> piece(FlushAbove);
  std::int64_t firstLine = -1;
  // `window` starts at `base`; it keeps the last bytes of the piece before,
  // so that a mark split between two pieces is found.
  std::int64_t base = from;
  for (std::int64_t at = from; at < text.Size();) {
    std::size_t got = 0;
    if (!text.Read(at, piece.data(), piece.size(), got) || got == 0)
      return false;
    window.append(piece.data(), got);
    at += static_cast<std::int64_t>(got);
    const std::size_t found = window.find(mark);
    if (found != std::string::npos) {
      cut = base + static_cast<std::int64_t>(found + LineEnd.size());
      return true;
    }
    const std::size_t line = window.find(LineEnd);
    if (firstLine < 0 && line != std::string::npos)
      firstLine = base + static_cast<std::int64_t>(line);
    const std::size_t keep = std::min(window.size(), mark.size() - 1);
    base += static_cast<std::int64_t>(window.size() - keep);
    window.erase(0, window.size() - keep);
  }
  cut = firstLine < 0 ? text.Size() : firstLine + static_cast<std::int64_t>(LineEnd.size());
  return true;
}

// The newer half of the log and then `bytes`, through a new file beside it
// and one move: a failure on the way keeps the old log.
void Trim(platform::TFile &file, std::int64_t size, const std::string &bytes) {
  TLogText kept{file, 0, size, {}};
  std::int64_t cut = 0;
  if (!NewerHalf(kept, size / 2, cut))
    return;
  kept.Drop(cut);
  kept.Tail = bytes;
  if (kept.Size() > RunLogLimit) {
    if (!NewerHalf(kept, kept.Size() / 2, cut))
      return;
    kept.Drop(cut);
  }
  const std::string fresh = LogPath + ".new";
  (void)platform::DeleteFile(fresh); // one left by a run that was ended meanwhile
  platform::TTempFile temp;
  platform::TFile &out = temp.File();
  bool copied = temp.CreateAs(LogPath, fresh);
  std::vector<char> piece(FlushAbove);
  for (std::int64_t at = 0; copied && at < kept.Size();) {
    std::size_t got = 0;
    copied = kept.Read(at, piece.data(), piece.size(), got) && got != 0 &&
             out.WriteAll(piece.data(), static_cast<std::uint32_t>(got));
    at += static_cast<std::int64_t>(got);
  }
  file.Close();
  // The old log stays on any failure; the half-written copy goes with `temp`.
  // A cut may lose the trim: the log is for reading, nothing depends on it.
  if (copied)
    (void)temp.Commit({}, platform::TDurable::No);
}

// False when a write that failed (a full disk, a crash) left the log's last
// line unfinished.
bool EndsWithLineEnd(platform::TFile &file, std::int64_t size) {
  if (size == 0)
    return true;
  char last[2] = {};
  std::uint32_t got = 0;
  if (size < 2 || !file.Seek(size - 2) || !file.Read(last, 2, got) || got != 2)
    return size >= 2;
  return std::string_view(last, 2) == LineEnd;
}

void Write(const std::string &lines) {
  platform::TFile file;
  if (!file.OpenShared(LogPath) && !file.Create(LogPath))
    return;
  std::int64_t size = 0;
  if (!file.Size(size))
    return;
  // A run's block starts on a line of its own, or it would not be told apart.
  const bool blockStart = lines.compare(0, BlockMark.size(), BlockMark) == 0;
  const std::string bytes =
      blockStart && !EndsWithLineEnd(file, size) ? std::string(LineEnd) + lines : lines;
  if (size + static_cast<std::int64_t>(bytes.size()) > RunLogLimit) {
    Trim(file, size, bytes);
    return;
  }
  // The log never changes the run: a failed write is dropped.
  std::uint32_t written = 0;
  if (file.Seek(size))
    (void)file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
}

// The log never changes the run: what its work throws (out of memory) ends
// here, and the lines not yet written are lost.
template <class TWork> void Quietly(TWork &&work) {
  try {
    work();
  } catch (...) {
  }
}

} // namespace

void BeginRun(std::string_view dataFolder, const std::vector<std::string> &params) {
  Quietly([&] {
    Pending.clear();
    Started = true;
    const util::TShortString folder = util::TrimText(dataFolder);
    LogPath = folder.Empty() ? std::string(RunLogName)
                             : util::AddBackslash(folder.View()) + std::string(RunLogName);
    std::string library =
        platform::FileVersion(std::string(platform::FolderPart(platform::ExecutablePath(), "\\/")) +
                              std::string(LibraryName));
    Append(std::string(BlockMark) + Now() +
           " zrkupd " ZRK_VERSION_TEXT " (commit " ZRK_COMMIT "), " + std::string(LibraryName) +
           " " + (library.empty() ? "(no version information)" : library));
    std::string line = "Parameters:";
    for (const std::string &p : params)
      line += " \"" + p + "\"";
    Note(params.empty() ? "Parameters: none" : line);
    // A run that never ends normally still leaves its start behind.
    Flush();
  });
}

bool Running() {
  return Started;
}

void Note(std::string_view line) {
  Quietly([&] {
    if (!Started)
      return;
    Append(LineTime() + std::string(line));
  });
}

void NoteFailure(std::string_view what, std::string_view path, int osError) {
  Quietly([&] {
    Note(std::string(what) + ": " + std::string(path) + ": " + platform::ErrorText(osError));
  });
}

void Flush() {
  Quietly([&] {
    if (!Started || Pending.empty())
      return;
    Write(Pending);
    Pending.clear();
    // A long line (the names of thousands of unpacked files) would leave its
    // room held for the rest of the run.
    if (Pending.capacity() > 2 * FlushAbove)
      Pending.shrink_to_fit();
  });
}

namespace {

// Runs inside Quietly.
void EndWith(const std::string &head, std::string_view message) {
  if (!Started)
    return;
  std::string text(message);
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  Note(head + (text.empty() ? "" : ": " + text));
  Flush();
  Started = false;
}

} // namespace

void EndRun(std::int32_t result, std::string_view message) {
  Quietly([&] { EndWith("Result " + std::to_string(result), message); });
}

void EndRunWithoutResult(std::string_view why) {
  Quietly([&] { EndWith("Nothing done", why); });
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
