// zrktool log: the run log ZRKUPD.LOG that zrkupd keeps in its data folder,
// one block per run, shown in UTF-8.
#include <algorithm>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/codepage.h"
#include "tools/commands.h"
#include "tools/zrktool.h"
#include "util/run_log.h"
#include "util/text.h"

namespace tools {

namespace {

int LogShow(const std::string &dataFolder, int last, bool json, std::ostream &out) {
  if (!util::FolderExists(dataFolder))
    Fail(ExitBadInput, "data folder " + ShownPath(dataFolder) + " does not exist");
  if (last < 1)
    Fail(ExitBadInput, "--last must be 1 or more");
  std::string path =
      util::AddBackslash(util::TrimText(dataFolder).View()) + std::string(runlog::RunLogName);
  TJson shown = {
      {"RunLog", ShownPath(path)}, {"Runs", TJson::array()}, {"Problems", TJson::array()}};
  if (!util::PathExists(path)) {
    const std::string problem =
        "no run log " + ShownPath(path) + ": zrkupd has not run with this data folder";
    if (!json)
      Fail(ExitFailed, problem);
    shown["Problems"].push_back(ProblemJson("run log", problem, true));
    PrintJson(out, shown);
    return ExitFailed;
  }
  auto blocks = runlog::SplitBlocks(ReadWholeFile(path, "run log"));
  std::size_t from = blocks.size() > static_cast<std::size_t>(last)
                         ? blocks.size() - static_cast<std::size_t>(last)
                         : 0;
  for (std::size_t i = from; i < blocks.size(); ++i) {
    std::string text = Cp1252ToUtf8(blocks[i]);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (!json) {
      out << text;
      continue;
    }
    TJson lines = TJson::array();
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    shown["Runs"].push_back(std::move(lines));
  }
  if (json)
    PrintJson(out, shown);
  return ExitOk;
}

} // namespace

void DefineLogShow(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string Folder;
    int Last = 1;
    bool Json = false;
  };
  auto o = std::make_shared<TOptions>();
  AddRequiredPath(command, "DATAFOLDER", o->Folder, "the data folder that holds ZRKUPD.LOG");
  command.add_option("--last", o->Last, "the last N runs (default 1)");
  command.add_flag("--json", o->Json,
                   "the runs as a JSON list under \"Runs\", each a list of its lines");
  context.OnRun(command,
                [o, &context] { return LogShow(o->Folder, o->Last, o->Json, context.Out); });
}

} // namespace tools
