// zrktool admin and download: the administration file shown and edited
// record by record, and the download record shown, both through admin/'s
// readers and writers. Every write of a header or record keeps the bytes
// around the named fields as they are.
#include <algorithm>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

#include "admin/admin_file.h"
#include "admin/settings.h"
#include "platform/console.h"
#include "platform/files.h"
#include "tools/commands.h"
#include "tools/record_fields.h"
#include "tools/zrktool.h"
#include "util/text.h"

namespace tools {

namespace {

// Refuses to write under a seed that does not decode the header: whatever is
// written then is scrambled under the wrong key and spoils the file.
void RequirePlausible(const std::string &path, const admin::TAdminHeader &header, std::int32_t seed,
                      bool force) {
  std::string why = SeedImplausibility(HeaderFields(), header.Bytes);
  if (!why.empty() && !force)
    Fail(ExitBadInput, ShownPath(path) + " does not decode under seed " + std::to_string(seed) +
                           " (" + why +
                           "): a wrong --seed? Nothing written (--force writes all the same)");
}

void RequireDestIndex(const admin::TPackageRecord &record) {
  if (record.DestIndex() < 1 || record.DestIndex() > admin::DestFolderCount)
    Fail(ExitBadInput, "DestIndex must be 1 to 20, not " + std::to_string(record.DestIndex()));
}

bool TouchesFolders(const std::vector<std::string> &assignments) {
  for (const std::string &a : assignments)
    for (const char *field : {"DestFolders", "DownloadFolder", "StagingFolder"})
      if (a.rfind(field, 0) == 0)
        return true;
  return false;
}

std::int64_t PackageCountOf(std::int64_t size) {
  return (size - static_cast<std::int64_t>(admin::AdminHeaderSize)) /
         static_cast<std::int64_t>(admin::PackageRecordSize);
}

std::int64_t TrailingBytesOf(std::int64_t size) {
  return (size - static_cast<std::int64_t>(admin::AdminHeaderSize)) %
         static_cast<std::int64_t>(admin::PackageRecordSize);
}

// Warnings go to standard error (and with `json` into "Problems") and never
// change the exit code: a show shows; check is where plausibility fails.
int AdminShow(const std::string &path, std::int32_t seed, bool showJson, std::ostream &out,
              std::ostream &err) {
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(path, seed, size);
  std::string implausible = SeedImplausibility(HeaderFields(), header.Bytes);
  TJson json = TJson::object();
  json["AdminSeed"] = seed;
  json["Header"] = FieldsToJson(HeaderFields(), header.Bytes);
  json["Packages"] = TJson::array();
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  while (admin::ReadNextPackage(file, path, record, seed, first))
    json["Packages"].push_back(FieldsToJson(PackageFields(), record.Bytes));
  if (static_cast<std::int64_t>(json["Packages"].size()) != PackageCountOf(size))
    Fail(ExitFailed, "administration file " + ShownPath(path) +
                         ": reading the package records stopped at " +
                         std::to_string(json["Packages"].size()) + " of " +
                         std::to_string(PackageCountOf(size)));
  TJson problems = TJson::array();
  auto warn = [&](const std::string &warning) {
    err << "warning: " << warning << "\n";
    problems.push_back(ProblemJson("administration file", warning, false));
  };
  if (std::int64_t trailing = TrailingBytesOf(size)) {
    json["TrailingBytes"] = trailing;
    warn(std::to_string(trailing) + " bytes after the last whole package record");
  }
  if (!implausible.empty())
    warn("the header does not decode under seed " + std::to_string(seed) + " (" + implausible +
         "): a wrong --seed?");
  if (showJson)
    json["Problems"] = problems;
  PrintJson(out, json);
  return ExitOk;
}

void ApplyAll(const std::vector<TFieldSpec> &specs, const std::vector<std::string> &assignments,
              std::uint8_t *bytes) {
  for (const auto &a : assignments) {
    std::string error;
    if (!ApplyAssignment(specs, a, bytes, error))
      Fail(ExitBadInput, error);
  }
}

void AdminInit(const std::string &path, std::int32_t seed, bool force,
               const std::vector<std::string> &assignments, std::ostream &out) {
  if (util::FolderExists(path))
    Fail(ExitBadInput, ShownPath(path) + " is a folder");
  admin::TAdminHeader header;
  ApplyAll(HeaderFields(), assignments, header.Bytes);
  if (util::PathExists(path)) {
    if (!force)
      Fail(ExitBadInput, ShownPath(path) + " exists; give --force to replace it");
  }
  if (!admin::WriteAdminFile(path, header, {}, seed))
    Fail(ExitFailed, ShownPath(path) + " cannot be written: " + OsErrorText());
  out << "created " << ShownPath(path) << ": header only, " << admin::AdminHeaderSize << " bytes\n";
}

// A new record goes behind the last whole one; a file with a cut record at its
// end is refused, since a record appended there would be misaligned.
void AdminAddPackage(const std::string &path, std::int32_t seed, bool force,
                     const std::vector<std::string> &assignments, std::ostream &out) {
  std::int64_t size = 0;
  RequirePlausible(path, ReadHeaderAsStored(path, seed, size), seed, force);
  if (TrailingBytesOf(size) != 0)
    Fail(ExitBadInput, ShownPath(path) + " ends in " + std::to_string(TrailingBytesOf(size)) +
                           " bytes of a cut package record; nothing appended");
  admin::TPackageRecord record;
  record.SetInstallPending(1);
  record.SetPackageReady(1);
  record.SetDestIndex(1);
  ApplyAll(PackageFields(), assignments, record.Bytes);
  if (record.PackageFileName().Empty())
    Fail(ExitBadInput, "a package record needs PackageFileName=NAME");
  RequireDestIndex(record);
  if (!admin::WritePackage(path, PackageCountOf(size), record, seed))
    Fail(ExitFailed, ShownPath(path) + ": the package record cannot be written: " + OsErrorText());
  out << "added package record " << PackageCountOf(size) << " to " << ShownPath(path) << "\n";
}

void AdminSet(const std::string &path, std::int32_t seed, bool force, std::optional<int> package,
              const std::vector<std::string> &assignments, std::ostream &out) {
  if (assignments.empty())
    Fail(ExitBadInput, "nothing to set: give FIELD=VALUE arguments");
  std::int64_t size = 0;
  admin::TAdminHeader header = ReadHeaderAsStored(path, seed, size);
  RequirePlausible(path, header, seed, force);
  if (!package) {
    ApplyAll(HeaderFields(), assignments, header.Bytes);
    if (TouchesFolders(assignments))
      if (std::string problem = FolderRuleProblem(header, path); !problem.empty())
        Fail(ExitBadInput, problem + "; nothing written");
    if (!admin::WriteAdminHeader(path, header, seed))
      Fail(ExitFailed, ShownPath(path) + ": the header cannot be written: " + OsErrorText());
    out << "header of " << ShownPath(path) << " written\n";
    return;
  }
  if (*package < 0 || *package >= PackageCountOf(size))
    Fail(ExitBadInput, ShownPath(path) + " has " + std::to_string(PackageCountOf(size)) +
                           " package records (0 to n-1); there is no record " +
                           std::to_string(*package));
  // Read the record whole with the program's reader, change the named fields,
  // and write it back whole where it came from.
  platform::TFile file;
  bool first = true;
  admin::TPackageRecord record;
  for (int i = 0; i <= *package; ++i)
    if (!admin::ReadNextPackage(file, path, record, seed, first))
      Fail(ExitFailed,
           ShownPath(path) + ": package record " + std::to_string(i) + " cannot be read");
  ApplyAll(PackageFields(), assignments, record.Bytes);
  RequireDestIndex(record);
  file.Close();
  if (!admin::WritePackage(path, *package, record, seed))
    Fail(ExitFailed, ShownPath(path) + ": package record " + std::to_string(*package) +
                         " cannot be written: " + OsErrorText());
  out << "package record " << *package << " of " << ShownPath(path) << " written\n";
}

void DownloadShow(const std::string &path, std::int32_t seed, bool withProblems, std::ostream &out,
                  std::ostream &err) {
  std::int64_t size = RequireFile(path, "download record file");
  admin::TDownloadRecord record;
  bool complete = admin::ReadDownloadRecord(path, record, seed);
  TJson problems = TJson::array();
  if (!complete) {
    const std::string warning =
        ShownPath(path) + " has " + std::to_string(size) + " bytes, a download record " +
        std::to_string(admin::DownloadRecordSize) + "; the missing bytes show as key bytes";
    err << "warning: " << warning << "\n";
    problems.push_back(ProblemJson("download record file", warning, false));
  }
  TJson json = TJson::object();
  json["AdminSeed"] = seed;
  json["DownloadRecordSize"] = admin::DownloadRecordSize;
  json["FileSize"] = size;
  json["Complete"] = complete;
  std::size_t nonZero = 0;
  for (auto b : record.Bytes)
    nonZero += b != 0;
  json["NonZeroBytes"] = nonZero;
  // The host's layout is opaque to us: a hex dump, 32 bytes a line.
  TJson lines = TJson::array();
  static const char digits[] = "0123456789abcdef";
  for (std::size_t at = 0; at < admin::DownloadRecordSize; at += 32) {
    std::string line = std::to_string(at);
    line.insert(0, 4 - std::min<std::size_t>(4, line.size()), '0');
    line += ":";
    for (std::size_t i = at; i < std::min(at + 32, admin::DownloadRecordSize); ++i) {
      line += ' ';
      line += digits[record.Bytes[i] >> 4];
      line += digits[record.Bytes[i] & 15];
    }
    lines.push_back(line);
  }
  json["Bytes"] = std::move(lines);
  if (withProblems)
    json["Problems"] = std::move(problems);
  PrintJson(out, json);
}

// The options of the admin commands.
struct TAdminOptions {
  std::string File;
  std::vector<std::string> Assignments;
  bool Force = false;
  TSeedOptions Seeds;

  void AddFile(CLI::App &command) {
    AddPath(command, "FILE", File,
            "the administration file (default with --data-folder: AdminFileName of the "
            "settings)");
    Seeds.AddTo(command);
  }

  // With --data-folder the file may be left out; the parser then takes the
  // first FIELD=VALUE for it, in the form a path has.
  std::string Target() {
    if (!Seeds.DataFolder.empty() && File.find('=') != std::string::npos &&
        !util::PathExists(File)) {
      Assignments.insert(Assignments.begin(), platform::ToolPathText(File));
      File.clear();
    }
    return Seeds.FileOr(File, admin::Settings.AdminFileName(), "administration file");
  }
};

} // namespace

void DefineAdminShow(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string File;
    bool Json = false;
    TSeedOptions Seeds;
  };
  auto o = std::make_shared<TOptions>();
  AddPath(command, "FILE", o->File,
          "the administration file (default with --data-folder: AdminFileName "
          "of the settings)");
  o->Seeds.AddTo(command);
  command.add_flag("--json", o->Json, "add the warnings under \"Problems\"");
  command.footer("A header that does not decode under the seed, or a cut record at the end, "
                 "is shown and warned about on standard error; the exit code stays 0 "
                 "(zrktool check fails on it).");
  context.OnRun(command, [o, &context] {
    o->Seeds.Resolve();
    return AdminShow(
        o->Seeds.FileOr(o->File, admin::Settings.AdminFileName(), "administration file"),
        o->Seeds.Seed, o->Json, context.Out, context.Err);
  });
}

void DefineAdminInit(CLI::App &command, TCommandContext &context) {
  auto o = std::make_shared<TAdminOptions>();
  AddRequiredPath(command, "FILE", o->File, "the new administration file");
  o->Seeds.AddTo(command);
  command.add_flag("--force", o->Force, "replace an existing file");
  command.add_option("FIELDS", o->Assignments, FieldsHelp);
  context.OnRun(command, [o, &context] {
    o->Seeds.Resolve();
    AdminInit(o->File, o->Seeds.Seed, o->Force, o->Assignments, context.Out);
    return ExitOk;
  });
}

void DefineAdminAddPackage(CLI::App &command, TCommandContext &context) {
  auto o = std::make_shared<TAdminOptions>();
  o->AddFile(command);
  command.add_flag("--force", o->Force,
                   "write even when the header does not decode under the seed");
  command.add_option("FIELDS", o->Assignments, FieldsHelp);
  command.footer("Fields: PackageFileName (required), InstalledInfo[1..3], OfferedInfo[1..3], "
                 "InstallPending, DestIndex, PackageReady.");
  context.OnRun(command, [o, &context] {
    o->Seeds.Resolve();
    const std::string file = o->Target();
    AdminAddPackage(file, o->Seeds.Seed, o->Force, o->Assignments, context.Out);
    return ExitOk;
  });
}

void DefineAdminSet(CLI::App &command, TCommandContext &context) {
  struct TOptions : TAdminOptions {
    int Package = 0;
  };
  auto o = std::make_shared<TOptions>();
  o->AddFile(command);
  command.add_flag("--force", o->Force,
                   "write even when the header does not decode under the seed");
  auto *package =
      command.add_option("--package", o->Package, "package record number, from 0 in file order");
  command.add_option("FIELDS", o->Assignments, FieldsHelp);
  command.footer("Header fields: DestFolders[1..20], DownloadFolder, StagingFolder, "
                 "VersionText, VersionDate, UpdatePending, VersionNumber, VersionDate2, "
                 "LastResult, LastRunDate, LastRunTime, OptionFlag1, OptionFlag2, "
                 "OfferedVersionText, OfferedVersionDate.");
  context.OnRun(command, [o, package, &context] {
    o->Seeds.Resolve();
    std::optional<int> index;
    if (package->count() > 0)
      index = o->Package;
    const std::string file = o->Target();
    AdminSet(file, o->Seeds.Seed, o->Force, index, o->Assignments, context.Out);
    return ExitOk;
  });
}

void DefineDownloadShow(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string File;
    TSeedOptions Seeds;
    bool Json = false;
  };
  auto o = std::make_shared<TOptions>();
  AddPath(command, "FILE", o->File,
          "the download record file (default with --data-folder: "
          "DownloadFileName of the settings)");
  o->Seeds.AddTo(command);
  // The record is always shown as JSON; the flag adds the warnings, as for
  // the other show commands.
  command.add_flag("--json", o->Json, "add the warnings under \"Problems\"");
  context.OnRun(command, [o, &context] {
    o->Seeds.Resolve();
    DownloadShow(
        o->Seeds.FileOr(o->File, admin::Settings.DownloadFileName(), "download record file"),
        o->Seeds.Seed, o->Json, context.Out, context.Err);
    return ExitOk;
  });
}

} // namespace tools
