// The command line of zrktool: one table names every command, and both the
// parser (and with it the help) and the dispatch are made from it. Each
// group's commands live in a file of their own (see commands.h).
#include "tools/zrktool.h"

#include <CLI/CLI.hpp>

#include "tools/commands.h"
#include "zrk_version.h"

namespace tools {

namespace {

// A group's own row has no command name; its Define is left out when the
// group only holds commands (check is a group that is a command itself).
struct TCommandRow {
  const char *Group;
  const char *Name;
  const char *Summary;
  TDefineCommand Define;
};

// In the order the help lists them.
const TCommandRow Commands[] = {
    {"settings", "", "the settings file ZRKUPD.DAT", nullptr},
    {"settings", "show", "print the settings record as JSON (texts in UTF-8)", DefineSettingsShow},
    {"settings", "store",
     "build the settings file from a TSettingsSource given as JSON, through StoreSettings, and "
     "print its result code and meaning",
     DefineSettingsStore},
    {"admin", "", "the administration file (UPDADMIN.VAB)", nullptr},
    {"admin", "show",
     "print the header (under \"header\") and every package record, in file order (under "
     "\"packages\"), as JSON",
     DefineAdminShow},
    {"admin", "init",
     "make a new administration file: a header (all zeros but the fields given) and no package "
     "records",
     DefineAdminInit},
    {"admin", "add-package",
     "append a package record; InstallPending, PackageReady and DestIndex start at 1, everything "
     "else at 0",
     DefineAdminAddPackage},
    {"admin", "set",
     "change fields of the header, or of package record N with --package N; every other byte "
     "stays as it is",
     DefineAdminSet},
    {"package", "", "package files (chunked CRC-32 containers)", nullptr},
    {"package", "pack", "make a package file of a ZIP archive", DefinePackagePack},
    {"package", "verify", "check every chunk and both totals; say what is wrong and where",
     DefinePackageVerify},
    {"package", "test", "verify packages and test their archives as the unzip library unpacks them",
     DefinePackageTest},
    {"package", "extract",
     "verify a package and write its ZIP archive (nothing is left on failure)",
     DefinePackageExtract},
    {"package", "filepath-id", "write a FILEPATH.ID marker file, to put into a package's ZIP",
     DefinePackageFilePathId},
    {"update", "", "whole updates", nullptr},
    {"update", "build",
     "make a complete update from folders of files: archives, packages, the administration file "
     "with its records, the settings; then check it",
     DefineUpdateBuild},
    {"check", "",
     "find what would make the next update run of a data folder fail: exit code 0, or 1 when it "
     "would fail",
     DefineCheck},
    {"log", "", "the run log ZRKUPD.LOG that zrkupd keeps", nullptr},
    {"log", "show", "print the last run's block of the run log (in UTF-8)", DefineLogShow},
    {"download", "", "the download record file (UPDDOWNL.VAB)", nullptr},
    {"download", "show", "print the download record (opaque to zrkupd) as a hex dump in JSON",
     DefineDownloadShow},
};

void DefineCommands(CLI::App &app, TCommandContext &context) {
  for (const TCommandRow &row : Commands) {
    if (*row.Name == '\0') {
      CLI::App *group = app.add_subcommand(row.Group, row.Summary);
      if (row.Define == nullptr)
        group->require_subcommand(1);
      else
        row.Define(*group, context);
      continue;
    }
    CLI::App *command = app.get_subcommand(row.Group)->add_subcommand(row.Name, row.Summary);
    row.Define(*command, context);
  }
}

// An unknown command word gets a clear message with the words that exist,
// instead of the parser's "arguments were not expected".
void RequireKnownCommands(CLI::App &app, const std::vector<std::string> &args) {
  CLI::App *level = &app;
  std::string path = "zrktool";
  for (const std::string &word : args) {
    auto subs = level->get_subcommands([](CLI::App *) { return true; });
    if (subs.empty() || word.empty() || word[0] == '-')
      return;
    CLI::App *found = nullptr;
    std::string known;
    for (CLI::App *sub : subs) {
      known += (known.empty() ? "" : ", ") + sub->get_name();
      if (sub->get_name() == word)
        found = sub;
    }
    if (found == nullptr)
      Fail(ExitBadInput, "unknown command \"" + word + "\" for " + path + "; commands: " + known +
                             " (" + path + " --help says more)");
    level = found;
    path += " " + word;
  }
}

int ParseAndRun(const std::vector<std::string> &args, TCommandContext &context) {
  CLI::App app{"zrktool: shows and edits the files that the host shares with zrkupd, and makes, "
               "verifies and unpacks package files.",
               "zrktool"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zrktool " ZRK_VERSION_TEXT " (commit " ZRK_COMMIT ")");
  DefineCommands(app, context);
  if (args.empty()) {
    context.Out << app.help();
    return ExitOk;
  }
  RequireKnownCommands(app, args);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError &e) {
    int code = app.exit(e, context.Out, context.Err);
    return code == 0 ? ExitOk : ExitBadInput;
  }
  if (!context.Action)
    return ExitBadInput;
  return context.Action();
}

} // namespace

int RunZrkTool(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
               std::ostream &err, std::ostream *terminal) {
  // The boundary of every command: what a command fails with becomes its
  // message and exit code here.
  try {
    TStdio stdio(in, out, terminal);
    TCommandContext context{stdio, out, err, {}};
    return ParseAndRun(args, context);
  } catch (const TFailure &f) {
    err << "zrktool: " << f.Message << "\n";
    return f.Code;
  } catch (const std::exception &e) {
    err << "zrktool: internal error: " << e.what() << "\n";
    return ExitInternal;
  } catch (...) {
    err << "zrktool: internal error\n";
    return ExitInternal;
  }
}

} // namespace tools
