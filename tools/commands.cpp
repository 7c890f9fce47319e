// The command-line pieces that several of zrktool's commands share.
#include "tools/commands.h"

#include <CLI/CLI.hpp>

#include "admin/admin_file.h"
#include "admin/settings.h"
#include "platform/console.h"
#include "tools/zrktool.h"
#include "util/text.h"

namespace tools {

void TCommandContext::OnRun(CLI::App &command, std::function<int()> run) {
  command.callback([this, run] { Action = run; });
}

const CLI::Validator &PathArgument() {
  static const CLI::Validator validator(
      [](std::string &path) {
        if (path != "-")
          path = platform::ToolPath(path);
        return std::string();
      },
      "PATH");
  return validator;
}

CLI::Option *AddPath(CLI::App &command, const std::string &name, std::string &path,
                     const std::string &help) {
  return command.add_option(name, path, help)->transform(PathArgument());
}

void AddRequiredPath(CLI::App &command, const std::string &name, std::string &path,
                     const std::string &help) {
  AddPath(command, name, path, help)->required();
}

const char *const FieldsHelp =
    "FIELD=VALUE assignments. Lists take an index from 1: DestFolders[3]=C:\\X. Texts are UTF-8 "
    "and are stored as Windows-1252; dates take a day number, YYYY-MM-DD or DD.MM.YYYY; times "
    "hh:mm:ss or seconds.";

void TSeedOptions::AddTo(CLI::App &command) {
  auto *seed = command.add_option("--seed", Seed,
                                  "AdminSeed that scrambles the file (default " +
                                      std::to_string(admin::DefaultAdminSeed) + ")");
  auto *folder = AddPath(command, "--data-folder", DataFolder,
                         "take AdminSeed from this data folder's settings file "
                         "ZRKUPD.DAT, and the file's name when FILE is left out; "
                         "a name without a folder is taken from the current "
                         "folder, as zrkupd does, not from the data folder");
  seed->excludes(folder);
}

void TSeedOptions::Resolve() {
  if (DataFolder.empty())
    return;
  if (!util::FolderExists(DataFolder))
    Fail(ExitBadInput, "data folder " + ShownPath(DataFolder) + " does not exist");
  admin::DataFolder = util::TrimText(DataFolder);
  std::string path = admin::SettingsPath();
  RequireFile(path, "settings file");
  if (!admin::ReadSettings())
    Fail(ExitBadInput, "settings file " + ShownPath(path) + " cannot be read");
  Seed = admin::Settings.AdminSeed();
}

std::string TSeedOptions::FileOr(const std::string &file, util::TShortString fromSettings,
                                 const char *what) const {
  if (!file.empty())
    return file;
  if (DataFolder.empty())
    Fail(ExitBadInput, std::string("name the ") + what + " or give --data-folder");
  return fromSettings.Str();
}

admin::TAdminHeader ReadHeaderAsStored(const std::string &path, std::int32_t seed,
                                       std::int64_t &size) {
  size = RequireFile(path, "administration file");
  if (size < static_cast<std::int64_t>(admin::AdminHeaderSize))
    Fail(ExitBadInput, "administration file " + ShownPath(path) + " has " + std::to_string(size) +
                           " bytes, less than its " + std::to_string(admin::AdminHeaderSize) +
                           "-byte header");
  admin::TAdminHeader header;
  if (!admin::ReadStoredHeader(path, header, seed))
    Fail(ExitFailed, "administration file " + ShownPath(path) + " cannot be read");
  return header;
}

} // namespace tools
