// Entry point of zrktool.
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tools/zrktool.h"

int main(int argc, char **argv) {
  try {
    platform::PrepareToolConsole();
    return tools::RunZrkTool(platform::ToolArguments(argc, argv), std::cin, std::cout, std::cerr,
                             platform::StandardErrorIsTerminal() ? &std::cerr : nullptr);
  } catch (...) {
    std::cerr << "zrktool: out of memory\n";
    return tools::ExitInternal;
  }
}
