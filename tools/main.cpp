// Entry point of zrktool.
#include <iostream>
#include <string>
#include <vector>

#include "tools/zrktool.h"

int main(int argc, char **argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return tools::RunZrkTool(args, std::cout, std::cerr);
  } catch (...) {
    std::cerr << "zrktool: out of memory\n";
    return tools::ExitInternal;
  }
}
