// What zrktool's commands are made of: the context a command is defined in,
// the command-line pieces several commands share, and one definition routine
// per command, which the command table in zrktool.cpp names.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "admin/admin_records.h"
#include "tools/tool_common.h"
#include "util/short_string.h"

namespace CLI {
class App;
class Option;
class Validator;
} // namespace CLI

namespace tools {

// What a command definition binds to: the streams, and the work to run once
// the whole command line has been parsed.
struct TCommandContext {
  TStdio &Stdio;
  std::ostream &Out;
  std::ostream &Err;
  std::function<int()> Action;

  // `run` becomes the Action when `command` is the one given.
  void OnRun(CLI::App &command, std::function<int()> run);
};

// Adds a command's options, arguments and help texts to `command`.
using TDefineCommand = void (*)(CLI::App &command, TCommandContext &context);

// Paths reach the file functions in their code page; "-" stays itself.
const CLI::Validator &PathArgument();
// An argument or option that names a file or folder, through PathArgument.
CLI::Option *AddPath(CLI::App &command, const std::string &name, std::string &path,
                     const std::string &help);
// The same, required.
void AddRequiredPath(CLI::App &command, const std::string &name, std::string &path,
                     const std::string &help);

extern const char *const FieldsHelp;

// The seed of the administration files: --seed, the settings of
// --data-folder, or the host's default.
struct TSeedOptions {
  std::int32_t Seed = admin::DefaultAdminSeed;
  std::string DataFolder;

  void AddTo(CLI::App &command);
  // Loads Settings from the data folder when one was given.
  void Resolve();
  std::string FileOr(const std::string &file, util::TShortString fromSettings,
                     const char *what) const;
};

// The header as the file holds it; `size` is the file's. Fails the command
// for a file that is missing or shorter than a header.
admin::TAdminHeader ReadHeaderAsStored(const std::string &path, std::int32_t seed,
                                       std::int64_t &size);

// settings_commands.cpp
void DefineSettingsShow(CLI::App &command, TCommandContext &context);
void DefineSettingsStore(CLI::App &command, TCommandContext &context);
// admin_commands.cpp
void DefineAdminShow(CLI::App &command, TCommandContext &context);
void DefineAdminInit(CLI::App &command, TCommandContext &context);
void DefineAdminAddPackage(CLI::App &command, TCommandContext &context);
void DefineAdminSet(CLI::App &command, TCommandContext &context);
void DefineDownloadShow(CLI::App &command, TCommandContext &context);
// package_commands.cpp
void DefinePackagePack(CLI::App &command, TCommandContext &context);
void DefinePackageVerify(CLI::App &command, TCommandContext &context);
void DefinePackageTest(CLI::App &command, TCommandContext &context);
void DefinePackageExtract(CLI::App &command, TCommandContext &context);
void DefinePackageFilePathId(CLI::App &command, TCommandContext &context);
// update_build.cpp
void DefineUpdateBuild(CLI::App &command, TCommandContext &context);
// check.cpp
void DefineCheck(CLI::App &command, TCommandContext &context);
// log_commands.cpp
void DefineLogShow(CLI::App &command, TCommandContext &context);

} // namespace tools
