// zrktool: shows and edits the files that the host shares with zrkupd (the
// settings file, the administration file, the download record) and makes,
// verifies and unpacks package files, all through the program's own code.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace tools {

// Exit codes.
constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;   // the operation ran and failed (a bad package, a store result)
constexpr int ExitBadInput = 2; // bad command line, missing or malformed input
constexpr int ExitInternal = 3; // a fault in the tool itself

// Runs one command; `args` are the arguments without the program name, in
// UTF-8; "-" as a file reads `in` or writes `out`. Long work shows progress
// on `terminal` when given (standard error, when that is a terminal). Never
// throws.
int RunZrkTool(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
               std::ostream &err, std::ostream *terminal = nullptr);

} // namespace tools
