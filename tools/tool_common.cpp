// Shared zrktool helpers; see tool_common.h.
#include "tools/tool_common.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>

#include "admin/update_folders.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "tools/codepage.h"
#include "tools/values.h"
#include "tools/zrktool.h"
#include "util/text.h"

namespace tools {

namespace {

// Indented JSON, but a short list of plain values stays on one line, so that
// "InstalledInfo": [0, 0, 0] does not take five.
void DumpJson(std::string &text, const TJson &json, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (json.is_object() && !json.empty()) {
    text += "{\n";
    bool first = true;
    for (const auto &[key, value] : json.items()) {
      text += first ? "" : ",\n";
      first = false;
      text += pad + "  " + TJson(key).dump() + ": ";
      DumpJson(text, value, indent + 2);
    }
    text += "\n" + pad + "}";
    return;
  }
  if (json.is_array() && !json.empty()) {
    std::string line = "[";
    bool plain = true;
    for (const auto &value : json) {
      plain = plain && value.is_primitive();
      line += (line.size() > 1 ? ", " : "") + value.dump();
    }
    line += "]";
    if (plain && line.size() + static_cast<std::size_t>(indent) <= 80) {
      text += line;
      return;
    }
    text += "[\n";
    for (std::size_t i = 0; i < json.size(); ++i) {
      text += pad + "  ";
      DumpJson(text, json[i], indent + 2);
      text += i + 1 < json.size() ? ",\n" : "\n";
    }
    text += pad + "]";
    return;
  }
  text += json.dump();
}

constexpr std::uint32_t StdioChunk = 65536;

} // namespace

void Fail(int code, std::string message) {
  throw TFailure{code, std::move(message)};
}

void PrintJson(std::ostream &out, const TJson &json) {
  std::string text;
  DumpJson(text, json, 0);
  out << text << "\n";
}

std::string ShownPath(const std::string &path) {
  std::string shown = platform::ToolPathText(path);
  const char other = platform::HostIsWindows() ? '/' : '\\';
  const char own = platform::HostIsWindows() ? '\\' : '/';
  for (char &c : shown)
    if (c == other)
      c = own;
  return shown;
}

std::string DescribeReport(const packages::TPackageReport &r) {
  return Cp1252ToUtf8(packages::DescribePackageReport(r));
}

void TProgress::Show(const std::string &text, bool now) {
  const std::uint32_t tick = platform::TickCount();
  if (Terminal == nullptr || (!now && Width > 0 && tick - Last < 250))
    return;
  Last = tick;
  *Terminal << '\r' << text;
  if (text.size() < Width)
    *Terminal << std::string(Width - text.size(), ' ');
  *Terminal << std::flush;
  Width = std::max(Width, text.size());
}

void TProgress::Clear() {
  if (Terminal == nullptr || Width == 0)
    return;
  *Terminal << '\r' << std::string(Width, ' ') << '\r' << std::flush;
  Width = 0;
}

TJson ProblemJson(const std::string &item, const std::string &message, bool error) {
  return {{"Item", item}, {"Message", message}, {"Severity", error ? "error" : "warning"}};
}

std::string OsErrorText() {
  return Cp1252ToUtf8(platform::ErrorText(platform::LastError()));
}

std::int64_t FileSizeOf(const std::string &path) {
  platform::TFile file;
  std::int64_t size = -1;
  if (!file.OpenRead(path) || !file.Size(size))
    return -1;
  return size;
}

std::int64_t RequireFile(const std::string &path, const char *what) {
  if (util::FolderExists(path))
    Fail(ExitBadInput, std::string(what) + " " + ShownPath(path) + " is a folder");
  std::int64_t size = FileSizeOf(path);
  if (size < 0)
    Fail(ExitBadInput,
         std::string(what) + " " + ShownPath(path) + " cannot be opened: " + OsErrorText());
  return size;
}

std::string ReadWholeFile(const std::string &path, const char *what) {
  std::int64_t size = RequireFile(path, what);
  if (size > 16 * 1024 * 1024)
    Fail(ExitBadInput, std::string(what) + " " + ShownPath(path) + " is too large");
  platform::TFile file;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::uint32_t got = 0;
  if (!file.OpenRead(path) ||
      (size > 0 && (!file.Read(bytes.data(), static_cast<std::uint32_t>(size), got) ||
                    got != static_cast<std::uint32_t>(size))))
    Fail(ExitBadInput,
         std::string(what) + " " + ShownPath(path) + " cannot be read: " + OsErrorText());
  return bytes;
}

TStdio::~TStdio() {
  for (const std::string &f : Files)
    (void)platform::DeleteFile(f); // scratch files; the tool is ending
}

std::string TStdio::Scratch() {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  std::string folder = std::filesystem::temp_directory_path(ec).string();
  if (ec)
    Fail(ExitFailed, "no folder for temporary files: " + ec.message());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path =
        (std::filesystem::path(folder) / ("zrktool-" + std::to_string(platform::TickCount()) + "-" +
                                          std::to_string(counter++) + ".tmp"))
            .string();
    platform::TFile file;
    if (file.CreateNew(path)) {
      Files.push_back(path);
      return path;
    }
  }
  Fail(ExitFailed, "no temporary file in " + folder + ": " + OsErrorText());
}

std::string TStdio::Input(const std::string &arg) {
  if (arg != "-")
    return arg;
  std::string path = Scratch();
  platform::TFile file;
  std::string buffer(StdioChunk, '\0');
  if (!file.OpenShared(path))
    Fail(ExitFailed,
         "the temporary file " + ShownPath(path) + " cannot be opened: " + OsErrorText());
  while (In.read(buffer.data(), StdioChunk) || In.gcount() > 0) {
    if (!file.WriteAll(buffer.data(), static_cast<std::uint32_t>(In.gcount())))
      Fail(ExitFailed,
           "standard input cannot be kept in " + ShownPath(path) + ": " + OsErrorText());
  }
  return path;
}

std::string TStdio::Output(const std::string &arg) {
  if (arg != "-")
    return arg;
  if (!OutputPath.empty())
    Fail(ExitBadInput, "only one output can be standard output");
  OutputPath = Scratch();
  return OutputPath;
}

void TStdio::Finish() {
  if (OutputPath.empty())
    return;
  platform::TFile file;
  std::string buffer(StdioChunk, '\0');
  std::uint32_t got = 0;
  if (!file.OpenRead(OutputPath))
    Fail(ExitFailed, "the output " + OutputPath + " cannot be read: " + OsErrorText());
  while (file.Read(buffer.data(), StdioChunk, got) && got > 0)
    Out.write(buffer.data(), got);
  Out.flush();
}

std::string SeedImplausibility(const std::vector<TFieldSpec> &specs, const std::uint8_t *bytes) {
  for (const TFieldSpec &spec : specs)
    for (int i = 0; i < spec.Count; ++i) {
      const std::size_t at = spec.Offset + static_cast<std::size_t>(i) * spec.Stride;
      std::string name = spec.Name;
      if (spec.Count > 1)
        name += "[" + std::to_string(i + 1) + "]";
      if (spec.Kind == TFieldKind::Text) {
        if (bytes[at] > spec.Capacity)
          return name + " claims " + std::to_string(bytes[at]) + " characters in a field of " +
                 std::to_string(spec.Capacity);
        for (std::size_t c = 1; c <= bytes[at]; ++c)
          if (bytes[at + c] < 0x20 || bytes[at + c] == 0x7F)
            return name + " holds a control character";
      }
      const std::int32_t value = util::GetI32(bytes, at);
      if (spec.Kind == TFieldKind::Date && value != 0 && value != -1 && !DecodeDayNumber(value))
        return name + " is no date (" + std::to_string(value) + ")";
      if (spec.Kind == TFieldKind::Time && (value < 0 || value > 86399))
        return name + " is no time of day (" + std::to_string(value) + ")";
    }
  return {};
}

void SetSourceFolders(admin::TAdminHeader &header, const admin::TSettingsSource &source) {
  auto folder = [](const std::string &t) {
    util::TShortString trimmed = util::TrimText(t);
    return trimmed.Empty()
               ? trimmed
               : util::TShortString(util::ExtractFolder(util::AddBackslash(trimmed.View())));
  };
  header.SetDownloadFolder(folder(source.DownloadFolder).View());
  header.SetStagingFolder(folder(source.StagingFolder).View());
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    header.SetDestFolder(i, folder(source.DestFolders[i]).View());
}

TSnapshot TakeSnapshot(const std::string &path) {
  TSnapshot snap{path, util::PathExists(path), {}};
  if (snap.Existed)
    snap.Bytes = ReadWholeFile(path, "file");
  return snap;
}

bool Restore(const TSnapshot &snap) {
  if (!snap.Existed)
    return !util::PathExists(snap.Path) || platform::DeleteFile(snap.Path);
  platform::TFile file;
  return file.Create(snap.Path) &&
         (snap.Bytes.empty() ||
          file.WriteAll(snap.Bytes.data(), static_cast<std::uint32_t>(snap.Bytes.size())));
}

std::string FolderRuleProblem(const admin::TAdminHeader &header, const std::string &adminPath) {
  std::string reason;
  if (util::CheckUpdateFolders(admin::UpdateFoldersOf(header, adminPath), reason))
    return {};
  if (!reason.empty() && reason.back() == '.')
    reason.pop_back(); // callers go on with "; ..."
  return reason;
}

} // namespace tools
