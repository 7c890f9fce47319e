// Process entry of zrkupd: hands the command line to the program and keeps
// every fault from unwinding out of main.
#include <string>
#include <vector>

#include "app/program.h"

int main(int argc, char **argv) {
  try {
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i)
      params.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return app::RunProgram(params);
  } catch (...) {
    // The run did not finish as it should; 0 would report success.
    return 1;
  }
}
