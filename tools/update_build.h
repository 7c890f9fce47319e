// zrktool update build: from folders of files to a complete update that
// zrkupd applies, checked as zrktool check checks it.
#pragma once

#include <ostream>
#include <string>

#include "tools/tool_common.h"

namespace tools {

// `specArg` is the file that describes the update, or "-" for standard input;
// `signKey` a PEM private key that signs every package, or empty.
int BuildUpdate(const std::string &specArg, const std::string &outFolder, bool dryRun,
                const std::string &signKey, TStdio &stdio, std::ostream &out);

} // namespace tools
