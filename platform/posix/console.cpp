// POSIX console: the arguments arrive as the bytes that were typed (UTF-8 on
// every system this build is for), paths go to the seam in Windows-1252 like
// every name inside the program, and standard streams are binary already.
#include "platform/console.h"

#include <unistd.h>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/posix/posix_paths.h"

namespace platform {

std::vector<std::string> ToolArguments(int argc, char **argv) {
  return ProgramParameters(argc, argv);
}

std::string ToolPath(const std::string &utf8) {
  return posix::ProgramName(utf8);
}

std::string ToolPathText(const std::string &path) {
  return Cp1252ToUtf8(path, TUnassigned::AsC1Controls);
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void PrepareToolConsole() {
}

} // namespace platform
