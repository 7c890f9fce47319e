// What every zrktool command shares: failures that end a command, JSON
// output, whole-file reads, "-" for standard input and output, OS error
// texts, and the checks that stop a slip before it is written.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "admin/admin_records.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "tools/record_fields.h"

namespace tools {

// A failure that ends the command with a message and an exit code.
struct TFailure {
  int Code;
  std::string Message;
};

[[noreturn]] void Fail(int code, std::string message);

void PrintJson(std::ostream &out, const TJson &json);

// A path as the terminal should show it: in UTF-8, with the separators the
// platform writes ("native/data/ZRKUPD.DAT", "C:\\Kast\\UPDADMIN.VAB").
// `path` is in the code page the file functions take.
std::string ShownPath(const std::string &path);

// DescribePackageReport in UTF-8.
std::string DescribeReport(const packages::TPackageReport &report);
using packages::CrcText;

// The one shape of a problem in every command's JSON: what it concerns, what
// is wrong, and whether it fails the command ("error") or not ("warning").
TJson ProblemJson(const std::string &item, const std::string &message, bool error);

// "cannot be written: Access is denied. (5)", from the last OS error.
std::string OsErrorText();

// -1 when the file cannot be opened.
std::int64_t FileSizeOf(const std::string &path);
// The size of an existing plain file; fails the command otherwise.
std::int64_t RequireFile(const std::string &path, const char *what);
std::string ReadWholeFile(const std::string &path, const char *what);

// One line of progress on standard error, rewritten in place at most a few
// times a second; silent unless standard error is a terminal.
class TProgress {
public:
  explicit TProgress(std::ostream *terminal) : Terminal(terminal) {}
  ~TProgress() { Clear(); }
  TProgress(const TProgress &) = delete;
  TProgress &operator=(const TProgress &) = delete;
  void Show(const std::string &text, bool now = false);
  void Clear();

private:
  std::ostream *Terminal;
  std::uint32_t Last = 0;
  std::size_t Width = 0;
};

// "-" as a file argument: standard input is copied into a scratch file that
// the command reads; an output goes to a scratch file that is copied to
// standard output when the command has succeeded. Scratch files go when
// this object does.
class TStdio {
public:
  // `terminal`: standard error when it is a terminal, for progress.
  TStdio(std::istream &in, std::ostream &out, std::ostream *terminal = nullptr)
      : Progress(terminal), In(in), Out(out) {}
  ~TStdio();
  TStdio(const TStdio &) = delete;
  TStdio &operator=(const TStdio &) = delete;

  std::string Input(const std::string &arg);
  std::string Output(const std::string &arg);
  // Where progress messages go: standard error once standard output carries data.
  std::ostream &Messages(std::ostream &err) { return OutputPath.empty() ? Out : err; }
  // Copies the output scratch file, if any, to standard output.
  void Finish();
  // A new empty scratch file, deleted with this object.
  std::string Scratch();

  TProgress Progress;

private:
  std::istream &In;
  std::ostream &Out;
  std::string OutputPath;
  std::vector<std::string> Files;
};

// Empty when the fields of `specs` read from `bytes` look like a record
// unscrambled with the right seed (texts of printable characters within
// their capacity, dates and times in range); else what gives it away.
std::string SeedImplausibility(const std::vector<TFieldSpec> &specs, const std::uint8_t *bytes);

// A settings source from JSON with every one of its keys; fails the command
// on a missing or bad one.
admin::TSettingsSource SettingsSourceOf(const TJson &json);

// The source's folders in the header, normalised as StoreSettings stores
// them; a blank one stays blank.
void SetSourceFolders(admin::TAdminHeader &header, const admin::TSettingsSource &source);

// The bytes of a small file, or that there was none; for putting files back
// as they were when a later write fails.
struct TSnapshot {
  std::string Path;
  bool Existed = false;
  std::string Bytes;
};
TSnapshot TakeSnapshot(const std::string &path);
[[nodiscard]] bool Restore(const TSnapshot &snap);

// Empty when the header's folders obey the program's folder rules, with
// `adminPath` (when given) as the administration file; else the rule that the
// first offending folder breaks.
std::string FolderRuleProblem(const admin::TAdminHeader &header,
                              const std::string &adminPath = std::string());

} // namespace tools
