// Splitting a command line by quotes alone, as the host's runtime does.
#include "platform/command_line.h"

namespace platform {

namespace {

constexpr char Quote = '"';

// NUL ends the line; every other character up to the blank separates.
bool IsSeparator(char c) {
  return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

// Reads the parameter at `at` and moves `at` behind it.
std::string NextParameter(std::string_view line, std::size_t &at) {
  for (;;) {
    while (at < line.size() && IsSeparator(line[at]))
      ++at;
    if (at + 1 < line.size() && line[at] == Quote && line[at + 1] == Quote)
      at += 2;
    else
      break;
  }
  std::string parameter;
  bool quoted = false;
  for (; at < line.size() && line[at] != '\0'; ++at) {
    const char c = line[at];
    if (c == Quote)
      quoted = !quoted;
    else if (quoted || !IsSeparator(c))
      parameter += c;
    else
      break;
  }
  return parameter;
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> parameters;
  std::size_t at = 0;
  for (;;) {
    std::string parameter = NextParameter(line, at);
    if (parameter.empty())
      break;
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}

} // namespace platform
