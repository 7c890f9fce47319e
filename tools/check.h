// zrktool check: everything that would make the next update run of a data
// folder fail, found before the run.
#pragma once

#include <ostream>
#include <string>

#include "tools/tool_common.h"

namespace tools {

struct TCheckOptions {
  bool Json = false;
  // Every line of long lists, not the first ListedLines of each.
  bool Verbose = false;
  // Where zrkupd and its unzip library lie; empty: the host's program folder.
  std::string ProgramFolder;
};
constexpr std::size_t ListedLines = 20;

// Prints the report (readable, or JSON) and returns ExitOk, or ExitFailed
// when the update would fail.
int CheckDataFolder(const std::string &dataFolder, const TCheckOptions &options, TStdio &stdio,
                    std::ostream &out);

} // namespace tools
