// zrktool update build: from folders of files to a complete update that
// zrkupd applies, checked as zrktool check checks it.
#pragma once

#include <ostream>
#include <string>

#include "tools/tool_common.h"

namespace tools {

// `specArg` is the file that describes the update, or "-" for standard input.
int BuildUpdate(const std::string &specArg, const std::string &outFolder, bool dryRun,
                TStdio &stdio, std::ostream &out);

} // namespace tools
