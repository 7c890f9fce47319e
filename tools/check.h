// zrktool check: everything that would make the next update run of a data
// folder fail, found before the run.
#pragma once

#include <ostream>
#include <string>

#include "tools/tool_common.h"

namespace tools {

// Prints the report (readable, or JSON) and returns ExitOk, or ExitFailed
// when the update would fail.
int CheckDataFolder(const std::string &dataFolder, bool json, TStdio &stdio, std::ostream &out);

} // namespace tools
