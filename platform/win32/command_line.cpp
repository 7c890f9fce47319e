// Windows parameters: split from the process's own command line, because the
// C runtime's argv reads a backslash before a quote as an escaped quote.
#include <windows.h>

#include "platform/command_line.h"

namespace platform {

std::vector<std::string> ProgramParameters(int, char **) {
  const char *line = GetCommandLineA();
  std::vector<std::string> parameters = SplitCommandLine(line != nullptr ? line : "");
  if (!parameters.empty())
    parameters.erase(parameters.begin());
  return parameters;
}

} // namespace platform
