// POSIX parameters: the shell has split them already.
#include "platform/command_line.h"

namespace platform {

std::vector<std::string> ProgramParameters(int argc, char **argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i)
    parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return parameters;
}

} // namespace platform
